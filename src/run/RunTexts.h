// The texts of the merge run in one place: the messages the operator sees, the statements the
// clearing runs, the progress texts and the names of the tables and fields the run addresses by
// name. Every stage of src/run takes its texts from here, so a reader can hold them against the
// system's own wording at a glance.
#pragma once

namespace peltorn::run {

// ---- messages of the run ----
inline constexpr const char* kMsgInvalidPeriod = "Invalid Period!";
inline constexpr const char* kMsgInvalidMergeDatabase = "Invalid merge database selected!";
inline constexpr const char* kMsgLockedSkipped =
    "Merged database is locked and skipped. Database# ";
inline constexpr const char* kMsgMergeCompleted = "Merge database completed";
// A run the operator stopped: this + the count + the suffix.
inline constexpr const char* kMsgMergeStoppedPrefix = "Merge stopped by the operator: ";
inline constexpr const char* kMsgMergeStoppedSuffix = " employees not converted";
// A destination that another merge run holds: "The destination database <path> of merge group
// <code> is being merged by another run".
inline constexpr const char* kErrBeingMergedPrefix = "The destination database ";
inline constexpr const char* kErrBeingMergedGroup = " of merge group ";
inline constexpr const char* kErrBeingMergedSuffix = " is being merged by another run";

// ---- the safety net (run/Snapshots.h) ----
// A destination put back from its snapshot: this + the code + the suffix, after the error report
// or the stopped line.
inline constexpr const char* kMsgRestoredPrefix = " The destination ";
inline constexpr const char* kMsgRestoredSuffix = " was restored to its state before the run.";
inline constexpr const char* kMsgRestoreFailedSuffix =
    " could not be restored to its state before the run: ";
// A destination whose last run was killed: this + the code + the middle + the restore command.
inline constexpr const char* kErrInterruptedPrefix = "The last run on ";
inline constexpr const char* kErrInterruptedMiddle =
    " was interrupted; its destination may be part-merged. Put it back with: ";
// The first run log line and the end of the last line of a preview.
inline constexpr const char* kMsgPreviewStart =
    "Preview only: nothing in the installation is changed";
inline constexpr const char* kMsgPreviewEnd =
    " (preview only: nothing in the installation was changed)";

// ---- composed error texts (the engine's message comes first or last as shown) ----
inline constexpr const char* kErrTableSuffix = " Table ";           // message + this + table
inline constexpr const char* kErrClearTableSuffix = " Tablename ";  // message + this + table
inline constexpr const char* kErrEmployeePrefix = "Employee#";      // this + code + " " + message

// ---- progress texts (edit2) ----
inline constexpr const char* kProgressClear = "Clear Record : ";
inline constexpr const char* kProgressUpdating =
    " Updating : ";  // form A: path\table + this + code
inline constexpr const char* kProgressUpdatingB = "Updating : ";  // form B: this + path\table
inline constexpr const char* kPathSeparator = "\\";

// ---- database paths ----
inline constexpr const char* kDictionaryYes = "YES";
inline constexpr const char* kCompanyFolderDictionary = "\\COMPANY\\";
inline constexpr const char* kCompanyFolderFree = "COMPANY\\";
inline constexpr const char* kDictionaryExtension = ".ADD";

// ---- marks and special values ----
inline constexpr const char* kYes = "T";               // one-letter yes of the tables
inline constexpr const char* kConsolidatedMark = "#";  // first letter of a destination code
inline constexpr const char* kAllPeriods = "999999";
inline constexpr const char* kSignOn = "T";
inline constexpr const char* kStoppedEmployee = "E";  // EMPLOYEE.STOP_IND of a record not merged

// ---- clearing statements ----
// The table name stands between two double quotes in every delete.
inline constexpr const char* kDeleteFrom = "DELETE FROM \"";
inline constexpr const char* kDeleteWholeTail = "\"  ";
inline constexpr const char* kDeletePeriodTail = "\" WHERE PERIOD=:PERIOD ";
inline constexpr const char* kDeletePeriodKeepSpecialTail =
    "\" WHERE PERIOD=:PERIOD AND CYCLE<>'S' ";
// "999999": every period of the table, the special cycle kept under "Exclude Special record".
inline constexpr const char* kDeleteAllKeepSpecialTail = "\" WHERE CYCLE<>'S' ";
inline constexpr const char* kRepairTrxidDictionary =
    "IF EXISTS (SELECT * FROM SYSTEM.COLUMNS WHERE PARENT = 'EMP_BNK' and Name = 'TRXID' AND "
    "Field_Type=15 ) THEN ALTER TABLE EMP_BNK ALTER COLUMN TRXID TRXID INTEGER;  END IF ";
inline constexpr const char* kSelectEmpBnk = "SELECT * FROM EMP_BNK";
inline constexpr const char* kRepairTrxidFree =
    "ALTER TABLE EMP_BNK ALTER COLUMN TRXID TRXID INTEGER";

// ---- source selections ----
inline constexpr const char* kSelectAllFrom = "SELECT * FROM ";  // S
inline constexpr const char* kSelect = "SELECT ";                // E: this + t + ".* FROM " + t
inline constexpr const char* kDotStarFrom = ".* FROM ";
inline constexpr const char* kWherePeriod = "WHERE PERIOD = :PERIOD ";                      // P
inline constexpr const char* kWherePeriodToTransfer = "WHERE  PERIOD_TO_TRANSFER=:PERIOD";  // M
// A period table's selection without the special cycle, kept in the destination under "Exclude
// Special record": after the period condition, or alone for "999999".
inline constexpr const char* kAndNotSpecial = "AND CYCLE<>'S' ";
inline constexpr const char* kWhereNotSpecial = "WHERE CYCLE<>'S' ";
inline constexpr const char* kPeriodMark = ":PERIOD";
inline constexpr const char* kPeriodParam = "PERIOD";

// ---- tables and fields addressed by name ----
inline constexpr const char* kMergeGroupCode = "CODE";      // MERGRHD and MERGEDTL
inline constexpr const char* kMergeGroupNo = "NO";          // MERGRHD
inline constexpr const char* kMergeGroupMaster = "MASTER";  // MERGRHD
inline constexpr const char* kMergeSourcePath = "PATH";     // MERGEDTL
inline constexpr const char* kLockField = "lock";           // PAYPARA1
inline constexpr const char* kLockPeriodField = "lockPeriod";
inline constexpr const char* kExrateIndex = "CURR;EXCODE;PERIOD";
inline constexpr const char* kEmpBnk = "EMP_BNK";
inline constexpr const char* kTrxid = "TRXID";
inline constexpr const char* kPHtrx = "P_HTRX";
inline constexpr const char* kEmployee = "EMPLOYEE";
inline constexpr const char* kStopInd = "STOP_IND";
inline constexpr const char* kFcurrCode = "FCURR_CODE";
inline constexpr const char* kLocalCurrCode = "LOCAL_CURR_CODE";
inline constexpr const char* kEmpCld = "EMP_CLD";
inline constexpr const char* kCostCtr = "COSTCTR";
inline constexpr const char* kAllownce = "ALLOWNCE";
inline constexpr const char* kEaIra = "EA_IRA";
inline constexpr const char* kEmpCode = "EMPCODE";
inline constexpr const char* kEmpNo = "EMP_NO";
inline constexpr const char* kEmpCodeAlt = "EMP_CODE";
inline constexpr const char* kPparaRd = "PPARA_RD";

// Why the account counts source records as skipped.
inline constexpr const char* kSkipResigned = "STOP_IND \"E\" (master record not carried over)";
inline constexpr const char* kSkipNoEmployee = "empty EMPCODE";
inline constexpr const char* kSkipLeaveNotChosen =
    "table not transferred (leave records not chosen)";
inline constexpr const char* kSkipNotSelected = "not selected (MASTER is not \"T\")";
inline constexpr const char* kSkipNeverTransferred = "table not transferred";

}  // namespace peltorn::run
