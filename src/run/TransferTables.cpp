// The table transfers of one source company. For each table the source selection is built on
// tblSource (a statement on dbSource), the destination table is opened on tblDest (dbDest) with
// the index the record transfer needs, and every selected record goes through TransferRecord.
//
// The list of the 32 payroll, employee, leave and code tables is one table in the code below, in
// the shape of the system's own: source selection, destination index, condition, employee-code
// field. The period tables are limited to the period unless it is "999999" (all periods); the
// master, leave and code tables are copied whole.
#include "run/TransferTables.h"

#include "run/MergeRun.h"
#include "run/RunTexts.h"
#include "run/TransferRecord.h"
#include "signon/Credentials.h"

#include <algorithm>

namespace peltorn::run {

namespace {

// Source selection: S "SELECT * FROM t", E "SELECT t.* FROM t".
enum class TSelect { S, E };
// Second line: none, P "WHERE PERIOD = :PERIOD " (not for "999999"), M "WHERE
// PERIOD_TO_TRANSFER=:PERIOD" (always).
enum class TLimit { None, P, M };
// How the destination index is made current.
enum class TIndexBy { FieldNames, IndexName, NoIndex };

struct TTableRule {
    const char* Table;
    TSelect Select;
    TLimit Limit;
    TIndexBy IndexBy;
    const char* Index;
    bool LeaveOnly;            // only with CheckBoxLeave ticked
    const char* EmpCodeField;  // "" for tables without one
};

using enum TSelect;
using enum TLimit;
using enum TIndexBy;

constexpr bool kAlways = false;
constexpr bool kLeave = true;

// clang-format off
const TTableRule kMergeTables[] = {
    // #  Table       Selection  Destination index                                        Condition  Employee code
    /* 1*/ {"PAYPARA1", S, None, FieldNames, "YEAR",                                      kAlways, ""},
    /* 2*/ {"EMPLOYEE", E, None, FieldNames, "EMP_NO",                                    kAlways, "EMP_NO"},  // STOP_IND "E" skipped
    /* 3*/ {"EMPLOYMT", E, None, FieldNames, "EMP_NO",                                    kAlways, "EMP_NO"},
    /* 4*/ {"EMPMISC",  E, None, FieldNames, "EMP_NO",                                    kAlways, "EMP_NO"},
    /* 5*/ {"EMP_ALW",  E, None, FieldNames, "EMP_NO;ALLOW_CODE;ID",                      kAlways, "EMP_NO"},
    /* 6*/ {"EMP_BNK",  E, None, FieldNames, "EMP_CODE;BANK_ID;BANK_AC_NO",               kAlways, "EMP_CODE"},
    /* 7*/ {"EMP_OTH",  E, None, FieldNames, "EMP_NO;YEAR",                               kAlways, "EMP_NO"},
    /* 8*/ {"EMP_PROS", E, None, FieldNames, "EMP_CODE;PAY_EFFECTIVE_DATE;ID",            kAlways, "EMP_CODE"},
    /* 9*/ {"EMP_CLD",  S, None, NoIndex,    "",                                          kAlways, ""},  // never transferred
    /*10*/ {"P_HTRX",   S, P,    FieldNames, "PERIOD;CYCLE;EMPCODE",                      kAlways, "EMPCODE"},
    /*11*/ {"P_DTRXSF", S, P,    FieldNames, "PERIOD;CYCLE;EMPCODE;SHIFT_STATUS",         kAlways, "EMPCODE"},
    /*12*/ {"P_DTRXND", S, P,    FieldNames, "PERIOD;CYCLE;EMPCODE;NPL_DAY_TYPE",         kAlways, "EMPCODE"},
    /*13*/ {"P_DTRXAS", S, P,    FieldNames, "PERIOD;CYCLE;EMPCODE;ABSENT_TYPE",          kAlways, "EMPCODE"},
    /*14*/ {"P_DTRXRD", S, P,    FieldNames, "PERIOD;CYCLE;EMPCODE;RESTDAY_TYPE",         kAlways, "EMPCODE"},
    /*15*/ {"P_DTRXNH", S, P,    FieldNames, "PERIOD;CYCLE;EMPCODE;NPL_HOUR_TYPE",        kAlways, "EMPCODE"},
    /*16*/ {"P_DTRXAW", S, P,    FieldNames, "PERIOD;CYCLE;EMPCODE;ALLW_DED_CODE",        kAlways, "EMPCODE"},
    /*17*/ {"P_DTRXOT", S, P,    FieldNames, "PERIOD;CYCLE;EMPCODE;OTTYPE",               kAlways, "EMPCODE"},
    /*18*/ {"YTDEMPL",  S, P,    FieldNames, "EMPCODE;PERIOD;CYCLE",                      kAlways, "EMPCODE"},
    /*19*/ {"P_DTRXLV", S, P,    FieldNames, "PERIOD;CYCLE;EMPCODE;ALLW_DED_CODE",        kAlways, "EMPCODE"},
    /*20*/ {"PGRP_HDR", S, None, FieldNames, "PAY_GROUP;YEAR",                            kAlways, ""},
    /*21*/ {"PGRP_TRX", S, None, FieldNames, "PAY_GROUP;YEAR;PERIOD",                     kAlways, ""},
    /*22*/ {"ALLOWNCE", S, None, FieldNames, "ALLOW_CODE;YEAR",                           kAlways, ""},
    /*23*/ {"EMPENT",   S, None, FieldNames, "EMPCODE;FIN_PERIOD;LEAVE_CODE",             kLeave,  "EMPCODE"},
    /*24*/ {"EMPLEAVE", S, None, IndexName,  "EMPCODE",                                   kLeave,  "EMPCODE"},
    /*25*/ {"EMP_LVTX", S, None, FieldNames, "FIN_PERIOD;EMPCODE;LEAVE_CODE;YEAR;MONTH",  kLeave,  "EMPCODE"},
    /*26*/ {"LEAV_TRX", S, None, FieldNames, "LEAVE_CODE;EMPCODE;DATE",                   kLeave,  "EMPCODE"},
    /*27*/ {"CODE",     S, None, FieldNames, "CATEGORY;CODE",                             kAlways, ""},
    /*28*/ {"CYCLE",    S, None, FieldNames, "PERIOD;CYCLE",                              kAlways, ""},
    /*29*/ {"MEDICAL",  S, M,    NoIndex,    "",                                          kAlways, "EMPCODE"},  // M also for "999999"
    /*30*/ {"COSTCTR",  S, P,    NoIndex,    "",                                          kAlways, "EMPCODE"},  // empty EMPCODE skipped
    /*31*/ {"PAY_BANK", S, None, FieldNames, "BANK_ID;BANK_BRANCH",                       kAlways, ""},
    /*32*/ {"EXRATE",   S, None, NoIndex,    "",                                          kAlways, ""},
};
// clang-format on

// The gauge runs 0 to 25 over 32 tables: it shows full during the last entries, deliberately.
constexpr int kGaugeMax = 25;

const TTableRule* FindTableRule(const std::string& table) {
    for (const auto& rule : kMergeTables)
        if (table == rule.Table) return &rule;
    return nullptr;
}

// Natural order: neither an index field list nor an index name. Clearing the field list alone
// would leave an index name made current earlier (EMPLEAVE's) in force for the next table.
void ClearIndex(db::TDbTable& table) {
    table.SetIndexFieldNames("");
    table.SetIndexName("");
}

// Closes tblDest and opens it on table in natural order. Whatever fails is raised as
// "<message> Table <table>", so the operator learns which destination table is at fault.
void OpenDestinationTable(TFormMerge& form, const std::string& table) {
    try {
        form.tblDest.Close();
        form.tblDest.SetTableName(table);
        ClearIndex(form.tblDest);
        form.tblDest.Open();
    } catch (const std::exception& e) {
        FailedInDestination(form);
        throw EMergeError(e.what() + std::string(kErrTableSuffix) + form.tblDest.TableName());
    }
}

// Closes tblDest; closing commits what was posted into it, and that may fail.
void CloseDestinationTable(TFormMerge& form) {
    OnDestination(form, [&] { form.tblDest.Close(); });
}

void OpenSourceSelection(TFormMerge& form, const std::vector<std::string>& lines,
                         const std::string& period) {
    db::TDbQuery& src = form.tblSource;
    src.Close();
    src.SQL().Clear();
    for (const auto& line : lines) src.SQL().Add(line);
    // Only the period conditions have the parameter PERIOD.
    if (std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find(kPeriodMark) != std::string::npos;
        })) {
        src.ParamByName(kPeriodParam).SetAsString(period);
    }
    src.Open();
}

std::vector<std::string> SelectionOf(const TTableRule& rule, const std::string& period,
                                     bool keepSpecial) {
    const std::string table = rule.Table;
    std::vector<std::string> lines;
    lines.push_back(rule.Select == S ? kSelectAllFrom + table
                                     : kSelect + table + kDotStarFrom + table);
    if (rule.Limit == P && period != kAllPeriods) lines.push_back(kWherePeriod);
    if (rule.Limit == M) lines.push_back(kWherePeriodToTransfer);
    // A kept special cycle is the destination's own: the sources' rows of it would come in
    // beside it again with every run. COSTCTR has no cycle.
    if (keepSpecial && rule.Limit == P && table != kCostCtr)
        lines.push_back(period != kAllPeriods ? kAndNotSpecial : kWhereNotSpecial);
    return lines;
}

// The conversion converts every payroll row with its employee's currency as the source holds it,
// also for an employee whose master record stays behind.
void RememberSourceCurrency(TFormMerge& form) {
    db::TDbQuery& src = form.tblSource;
    form.SourceEmployeeCurrencies[src.FieldByName(kEmpNo).AsString()] = {
        src.FieldByName(kFcurrCode).AsString(), src.FieldByName(kLocalCurrCode).AsString()};
}

// The account's count of the table about to be transferred from the current source (null outside
// a merge group). Counted into by the record transfer until the next table begins.
void CountTransfer(TFormMerge& form, const std::string& table, const char* skipReason = "") {
    form.TransferBeingCounted = nullptr;
    if (TGroupAccount* group = form.GroupBeingMerged()) {
        group->Transfers.push_back({form.SourceDbPath, table, 0, 0, 0, 0, skipReason});
        form.TransferBeingCounted = &group->Transfers.back();
    }
}

void TransferAllRecords(TFormMerge& form, bool pickEmployee, bool skipStopped) {
    db::TDbQuery& src = form.tblSource;
    TTransferCount* count = form.TransferBeingCounted;
    for (src.First(); !src.Eof(); src.Next()) {
        if (count) ++count->Read;
        if (skipStopped) RememberSourceCurrency(form);
        if (skipStopped && src.FieldByName(kStopInd).AsString() == kStoppedEmployee) {
            if (count) {
                ++count->Skipped;
                count->SkipReason = kSkipResigned;
            }
            continue;
        }
        if (pickEmployee) PickEmployeeCode(form);
        TransferRecord(form);
        form.ProcessMessages();
    }
}

void TransferCompanyTable(TFormMerge& form, const TTableRule& rule) {
    const std::string table = rule.Table;
    const bool freeTables = !form.dbDest.IsDictionaryConn();
    CurrentRunContext().Table = table;

    OpenDestinationTable(form, table);
    // The source statement gets the free-table password when the destination's table is
    // encrypted; a plain destination table leaves the statement as it is.
    if (freeTables && OnDestination(form, [&] { return form.tblDest.IsTableEncrypted(); })) {
        form.tblSource.EnableEncryption(signon::kFreeTablePassword);
        form.tblSource.SetTablePassword(table, signon::kFreeTablePassword);
        form.tblSource.SetTablePassword(kPHtrx, signon::kFreeTablePassword);
    }
    CloseDestinationTable(form);
    if (rule.LeaveOnly && !form.Controls.CheckBoxLeave) {
        CountTransfer(form, table, kSkipLeaveNotChosen);
        form.TransferBeingCounted = nullptr;
        return;
    }

    OpenSourceSelection(form, SelectionOf(rule, form.Controls.EditPeriod, form.Controls.chkSPE),
                        form.Controls.EditPeriod);

    db::TDbTable& dest = form.tblDest;
    OnDestination(form, [&] {
        dest.Close();
        dest.SetTableName(table);
        switch (rule.IndexBy) {
            case FieldNames: dest.SetIndexFieldNames(rule.Index); break;
            case IndexName: dest.SetIndexName(rule.Index); break;
            case NoIndex: ClearIndex(dest); break;
        }
        dest.Open();
        if (freeTables && dest.IsTableEncrypted())
            dest.EnableEncryption(signon::kFreeTablePassword);
    });

    form.Controls.edit2 = form.SourceDbPath + kPathSeparator + table;
    CountTransfer(form, table);
    TransferAllRecords(form, true, table == kEmployee);
    form.TransferBeingCounted = nullptr;

    // One flush per table, not per record; an empty destination table has nothing to flush.
    OnDestination(form, [&] {
        if (dest.FieldCount() > 0 && !dest.Fields(0).AsString().empty()) dest.FlushFileBuffers();
    });
}

}  // namespace

const std::vector<std::string>& MergeTables() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (const auto& rule : kMergeTables) v.emplace_back(rule.Table);
        return v;
    }();
    return names;
}

const std::vector<std::string>& GLTables() {
    static const std::vector<std::string> names = {"GLBODY", "GLCODE", "GLDETAIL", "GLLINE",
                                                   "GLMAP",  "GLTYPE", "GLHEADER", "GLPARA"};
    return names;
}

void PickEmployeeCode(TFormMerge& form) {
    form.CurrentEmpCodeField.clear();
    form.CurrentEmpCode.clear();
    if (const TTableRule* rule = FindTableRule(form.tblDest.TableName()))
        form.CurrentEmpCodeField = rule->EmpCodeField;
    if (!form.CurrentEmpCodeField.empty())
        form.CurrentEmpCode = form.tblSource.FieldByName(form.CurrentEmpCodeField).AsString();
}

void TransferCompanyTables(TFormMerge& form) {
    TMergeControls& c = form.Controls;
    c.Gauge1Progress = 0;
    c.Gauge1Min = 0;
    c.Gauge1Max = kGaugeMax;
    for (const auto& rule : kMergeTables) {
        c.Gauge1Progress = std::min(c.Gauge1Progress + 1, c.Gauge1Max);
        if (rule.Table == std::string(kEmpCld)) {
            CountTransfer(form, rule.Table, kSkipNeverTransferred);
            form.TransferBeingCounted = nullptr;
            continue;
        }
        TransferCompanyTable(form, rule);
    }
}

void TransferParameterTable(TFormMerge& form, const std::string& tableName) {
    if (tableName == kPparaRd) return;
    CurrentRunContext().Table = tableName;
    OpenSourceSelection(form, {kSelectAllFrom + tableName}, {});
    OpenDestinationTable(form, tableName);
    CountTransfer(form, tableName);
    TransferAllRecords(form, false, false);
    form.TransferBeingCounted = nullptr;
    CloseDestinationTable(form);
    form.tblDest.SetTableName("");
    ClearIndex(form.tblDest);
}

void TransferGLTables(TFormMerge& form) {
    for (const auto& table : GLTables()) {
        CurrentRunContext().Table = table;
        OpenSourceSelection(form, {kSelectAllFrom + table}, {});
        OpenDestinationTable(form, table);
        CountTransfer(form, table);
        TransferAllRecords(form, false, false);
        form.TransferBeingCounted = nullptr;
    }
}

}  // namespace peltorn::run
