// The texts of the currency conversion in one place: the operator's messages, the run-log
// pieces, the statements, and the table and field names the conversion addresses. Every other
// file of the conversion takes them from here, so a text is changed once.
#pragma once

namespace peltorn::currency {

// ---- messages (message boxes after which the run goes on) ----
inline constexpr const char* kMsgCurrencyBlank = "CURRENCY code IS BLANK!";
inline constexpr const char* kMsgStdCurrBlank = "STDCURR code IS BLANK!";
inline constexpr const char* kMsgExcodeBlank = "EXCODE code IS BLANK!";
inline constexpr const char* kMsgUndefinedRate = "Undefined Exrate Table. Rate : ";
inline constexpr const char* kMsgError1000 = "Error 1000. Unable to locate Currency rate Table : ";
inline constexpr const char* kMsgError1003 = " Error 1003. Unable to locate Currency Table : ";
inline constexpr const char* kMsgError1004 = "Error 1004. Unable to locate Source Currency : ";
// Shown when an earlier source company of the group cannot be read for bank transactions.
inline constexpr const char* kMsgBankSourceUnread = "Bank transactions not read from database# ";

// ---- run log and progress ----
// Why the run's account reports an employee as not converted.
inline constexpr const char* kReasonMissingRate = "missing rate";
inline constexpr const char* kReasonStopped = "stopped";
inline constexpr const char* kLogUpdateHtrx = "UpdateHTRXField ";
inline constexpr const char* kLogUpdateHtrxEmp = "UpdateHTRXField emp_no :";
inline constexpr const char* kProgressMessage = "Process Currency conversion.";
inline constexpr const char* kHtrxUpdating = "\\P_HTRX Updating : ";

// ---- statements ----
// The employees with payroll rows, one row per period and employee; the condition
// (PayrollRowsCondition) comes between the first line and the others.
inline constexpr const char* kSqlPayrollEmployees = "SELECT PERIOD,EMPCODE FROM P_HTRX";
inline constexpr const char* kSqlPayrollEmployeesOrder[] = {
    "GROUP BY PERIOD,EMPCODE ",
    "ORDER BY PERIOD,EMPCODE ",
};
inline constexpr const char* kSqlWherePeriod = " WHERE PERIOD=:period";
inline constexpr const char* kSqlAndNotSpecial = " AND CYCLE<>'S'";
inline constexpr const char* kSqlWhereNotSpecial = " WHERE CYCLE<>'S'";
inline constexpr const char* kSpecialCycle = "S";
inline constexpr const char* kAllPeriods = "999999";
// The pay currency codes of one destination employee, for payroll of an employee no source of
// the group holds.
inline constexpr const char* kSqlEmployeeCurrency =
    "SELECT FCURR_CODE,LOCAL_CURR_CODE FROM EMPLOYEE WHERE EMP_NO=:EMP_NO";
inline constexpr const char* kSqlStampEmployees =
    "update EMPLOYEE set FCURR_CODE=:FCURR_CODE,LOCAL_CURR_CODE=:FCURR_CODE";
// Puts the pay currency back on one employee whose payroll could not be converted.
inline constexpr const char* kSqlKeepEmployeeCurrency =
    "update EMPLOYEE set FCURR_CODE=:FCURR_CODE,LOCAL_CURR_CODE=:LOCAL_CURR_CODE "
    "where EMP_NO=:EMP_NO";
// The header rows whose bank transactions are rebuilt; PayrollRowsCondition follows.
inline constexpr const char* kSqlHeaderRows = "SELECT EMPCODE,PERIOD,CYCLE,NETT_WAGE FROM P_HTRX";
inline constexpr const char* kSqlSourceBankRows =
    "SELECT * FROM BANKTRX WHERE CYCLE = :CYCLE AND PERIOD=:PERIOD AND EMPCODE=:EMPCODE ";
// The keys of a source company's payroll headers; PayrollRowsCondition follows.
inline constexpr const char* kSqlSourceHeaderKeys = "SELECT EMPCODE,PERIOD,CYCLE FROM P_HTRX";

// ---- parameters ----
inline constexpr const char* kParamPeriod = "period";
inline constexpr const char* kParamEmpCode = "EMPCODE";
inline constexpr const char* kParamPeriodUpper = "PERIOD";
inline constexpr const char* kParamCycle = "CYCLE";
inline constexpr const char* kParamFcurrCode = "FCURR_CODE";
inline constexpr const char* kParamLocalCurrCode = "LOCAL_CURR_CODE";
inline constexpr const char* kParamEmpNo = "EMP_NO";

// ---- tables ----
inline constexpr const char* kTableEmployee = "EMPLOYEE";
inline constexpr const char* kTableHtrx = "P_HTRX";
inline constexpr const char* kTableHtrxLower = "p_htrx";
inline constexpr const char* kTableAllowanceRows = "P_DTRXAW";
inline constexpr const char* kTableBankTrx = "BANKTRX";
inline constexpr const char* kTableBankTrxLower = "banktrx";
inline constexpr const char* kRateIndex = "CURR;EXCODE;PERIOD";

// ---- fields ----
inline constexpr const char* kFieldEmpNo = "EMP_NO";
inline constexpr const char* kFieldFcurrCode = "FCURR_CODE";
inline constexpr const char* kFieldLocalCurrCode = "LOCAL_CURR_CODE";
inline constexpr const char* kFieldEmpCode = "EMPCODE";
inline constexpr const char* kFieldPeriod = "PERIOD";
inline constexpr const char* kFieldCycle = "CYCLE";
inline constexpr const char* kFieldCurr = "CURR";
inline constexpr const char* kFieldExcode = "EXCODE";
inline constexpr const char* kFieldExRate = "EX_RATE";
inline constexpr const char* kFieldAllwDedCode = "ALLW_DED_CODE";
inline constexpr const char* kFieldAmount = "AMOUNT";
inline constexpr const char* kFieldAmount2 = "AMOUNT2";
inline constexpr const char* kFieldCurrCode = "CURR_CODE";
inline constexpr const char* kFieldFamount = "FAMOUNT";
inline constexpr const char* kFieldIsTax = "IS_TAX";
inline constexpr const char* kFieldIsAbsent = "is_absent";
inline constexpr const char* kFieldBankId = "BANK_ID";
inline constexpr const char* kFieldBankAmt = "bank_amt";
inline constexpr const char* kFieldTranAmt = "TRAN_AMT";
inline constexpr const char* kFieldSplitAmt = "split_amt";
inline constexpr const char* kFieldNettWage = "NETT_WAGE";
inline constexpr const char* kFieldHeaders = "HEADERS";

// ---- marks and codes ----
inline constexpr const char* kBankTT = "TT";
inline constexpr const char* kAbsentMark = "X";
inline constexpr const char* kTaxCode = "PCB";
inline constexpr const char* kBonusPrefix = "BONU";
inline constexpr const char* kCreditPrefix = "@$";
inline constexpr const char* kGrossDeductionPrefix = "$";
inline constexpr const char* kNotTaxable = "0";
inline constexpr const char* kStatutoryCodes[] = {"ZAKAT", "PCB", "CDAC", "MOSQ", "SINDA", "EUCF"};

}  // namespace peltorn::currency
