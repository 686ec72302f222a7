// Payroll header recomputation: the currency conversion of one merge group.
//
// Road of one group's conversion:
//   open the rate table (last source) and the destination's payroll tables
//   for each period and employee with header rows (selection DbQueryHTRX: the period, or every
//   period for "999999"; cycle "S" left out when it is kept), while the operator has not asked
//   to stop:
//       pay currency as the group's sources hold it on the employee (a resigned employee's too),
//       else as the destination does
//       rate of the pay currency for that period (1 for the standard currency; missing:
//       reported, employee left unconverted for the period)
//       for each header row of the employee and period (one per cycle):
//           A  every amount x rate, rounded to 2 decimals      } ConvertHeaderRow
//           B  contributions taken from the "S_" fields         }
//           detail rows converted, allowance sums formed (DetailRows.cpp)
//           C  totals from the detail rows and sums
//           D  gross_wage   E  NETT_WAGE   F  payment amount
//   bank transactions rebuilt (BankTransactions.cpp)
//   every destination rate set to 1, progress window closed, tables closed
//
// The conversion carries no mark of its own: it relies on the destination period having just
// been filled from the sources, so each amount is converted exactly once per run.
#include "currency/ConvertCurrency.h"

#include "currency/BankTransactions.h"
#include "currency/ConversionState.h"
#include "currency/CurrencyTexts.h"
#include "currency/DetailRows.h"
#include "currency/ExchangeRate.h"
#include "signon/Credentials.h"
#include "support/xBseCode.h"

#include <algorithm>
#include <cmath>

namespace peltorn::currency {

namespace {

using db::TFieldType;

// Header fields stage A leaves alone: day counts (never changed) and the contribution fields,
// which only the "S_" rules may set. Compared exactly, as the table spells them.
constexpr const char* kHeaderKeepFields[] = {
    // never changed
    "PAYDAY", "ANLV_CUR", "ANLV_YTD", "ANLV_BAL", "NPL_DAY", "ABSENT_DAY", "WORKDAY", "SICKLV_CUR",
    "SICKLV_YTD", "SICKLV_BAL",
    // not multiplied
    "CHEQAMT", "CPF_WAGE", "SCP_WAGE", "SOCSO_WAGE", "TOTAL_CPF", "S_CPFWAGE", "S_SDF", "S_FWL",
    "S_SOCSO", "S_ERSOCSO", "S_CPFEMPEE", "S_CPFEMPER", "S_SCP_ER", "S_SCP_EE", "S_ERVOLUN",
    "S_VOLUN", "S_EIS", "S_EREIS", "S_EIS_WAGE"};

bool IsKeptHeaderField(const std::string& name) {
    return std::find_if(std::begin(kHeaderKeepFields), std::end(kHeaderKeepFields),
                        [&](const char* kept) { return name == kept; }) !=
           std::end(kHeaderKeepFields);
}

// The tables the conversion opens at its start and closes at its end (YTDEMPL is opened with
// them but never changed).
db::TDbTable TFormMerge::*const kConversionTables[] = {
    &TFormMerge::YTDEMPL,  &TFormMerge::P_DTRXAS, &TFormMerge::P_DTRXAW, &TFormMerge::P_DTRXLV,
    &TFormMerge::P_DTRXNH, &TFormMerge::P_DTRXND, &TFormMerge::P_DTRXOT, &TFormMerge::P_DTRXSF,
    &TFormMerge::P_DTRXRD, &TFormMerge::P_HTRX};

// Field access on the header row, by name in any letter case, as floating point.
class HeaderRow {
public:
    explicit HeaderRow(db::TDbTable& table) : m_table(table) {}
    double Get(const char* name) { return m_table.FieldByName(name).AsFloat(); }
    void Set(const char* name, double value) { m_table.FieldByName(name).SetAsFloat(value); }
    void Copy(const char* to, const char* from) { Set(to, Get(from)); }
    bool Has(const char* name) { return m_table.FindField(name) != nullptr; }

private:
    db::TDbTable& m_table;
};

// Stage B, in the order of the rules: the statutory contributions as the source payroll computed
// them in the standard currency, copied without rate or rounding.
void TakeStatutoryFields(HeaderRow& row) {
    if (row.Has("S_SDF")) row.Copy("sdf", "S_SDF");
    if (row.Has("S_FWL")) row.Copy("FWL", "S_FWL");

    auto takeCpf = [&row] {
        row.Copy("CPFEMPEE", "S_CPFEMPEE");
        row.Copy("CPFEMPER", "S_CPFEMPER");
        row.Set("TOTAL_CPF", std::fabs(row.Get("CPFEMPER")) + std::fabs(row.Get("CPFEMPEE")));
    };
    if (row.Has("S_CPFWAGE")) {
        // A zero wage base means the source kept no standard-currency CPF: the multiplied
        // contributions stand.
        if (db::TCurrency::FromDouble(row.Get("S_cpfwage")) != db::TCurrency{}) {
            row.Copy("cpf_wage", "S_cpfwage");
            takeCpf();
        }
    } else if (row.Has("S_CPFEMPEE")) {
        takeCpf();
    }

    if (row.Has("S_SCP_ER")) {
        row.Copy("SCP_ER", "S_SCP_ER");
        row.Copy("SCP_EE", "S_SCP_EE");
        row.Set("TOTAL_SCP", std::fabs(row.Get("SCP_ER")) + std::fabs(row.Get("SCP_EE")));
    }
    if (row.Has("S_ERVOLUN")) {
        row.Copy("ERVOLUN", "S_ERVOLUN");
        row.Copy("VOLUN", "S_VOLUN");
    }
    if (row.Has("S_SOCSO")) {
        row.Copy("SOCSO", "S_SOCSO");
        row.Copy("ERSOCSO", "S_ERSOCSO");
    }
    if (row.Has("S_EIS_WAGE")) {
        row.Copy("EIS_WAGE", "S_EIS_WAGE");
        row.Copy("EIS", "S_EIS");
        row.Copy("EREIS", "S_EREIS");
        // Deliberate: EREIS enters with its sign, unlike the CPF and SCP totals.
        row.Set("TOTAL_EIS", std::fabs(row.Get("EIS")) + row.Get("EREIS"));
    }
}

// One header row of the employee: stages A to F and the detail rows.
void HandleHeaderRow(TFormMerge& form, const std::string& empNo) {
    form.Controls.Memo1.push_back(kLogUpdateHtrxEmp + empNo);
    form.RowCredit = 0;
    form.BonusSum = 0;
    form.GrossOnlySum = 0;
    form.NettOnlySum = 0;
    form.AllowanceSum = 0;
    form.DeductionSum = 0;

    ConvertHeaderRow(form);

    db::TCurrency nplTotal = ConvertDetailRows(form, form.P_DTRXNH, kFieldAmount);
    nplTotal += ConvertDetailRows(form, form.P_DTRXND, kFieldAmount);
    nplTotal += ConvertDetailRows(form, form.P_DTRXAS, kFieldAmount);
    const db::TCurrency shiftTotal = ConvertDetailRows(form, form.P_DTRXSF, "SHIFTAMT");
    const db::TCurrency otTotal = ConvertDetailRows(form, form.P_DTRXOT, "OTAMT");
    const db::TCurrency restTotal = ConvertDetailRows(form, form.P_DTRXRD, kFieldAmount);
    ConvertDetailRows(form, form.P_DTRXAW, kFieldAmount);
    ConvertDetailRows(form, form.P_DTRXLV, kFieldAmount);

    auto& table = form.P_HTRX;
    HeaderRow row(table);
    table.Edit();
    // C: totals.
    row.Set("TOTAL_ALLOWANCE", form.AllowanceSum);
    row.Set("TOTAL_DEDUCTION", form.DeductionSum);
    table.FieldByName("SHIFTAMT").SetAsCurrency(shiftTotal);
    table.FieldByName("OTAMT").SetAsCurrency(otTotal);
    table.FieldByName("RESTAMT").SetAsCurrency(restTotal);
    table.FieldByName("total_npl").SetAsCurrency(nplTotal);

    // D: gross wage, summed in extended precision in this order, not rounded.
    long double gross = row.Get("basic");
    gross += row.Get("total_npl");
    gross += row.Get("OTAMT");
    gross += row.Get("SHIFTAMT");
    gross += form.GrossOnlySum;
    gross += form.BonusSum;
    gross += row.Get("TOTAL_ALLOWANCE");
    gross += row.Get("RESTAMT");
    row.Set("gross_wage", static_cast<double>(gross));

    // E: nett wage. Deductions are negative amounts, so everything is added.
    long double nett = row.Get("basic");
    nett += row.Get("total_npl");
    nett += row.Get("OTAMT");
    nett += row.Get("SHIFTAMT");
    nett += form.BonusSum;
    nett += row.Get("TOTAL_ALLOWANCE");
    nett += row.Get("RESTAMT");
    nett += form.NettOnlySum;
    nett += row.Get("TOTAL_DEDUCTION");
    nett += row.Get("CPFEMPEE");
    row.Set("NETT_WAGE", static_cast<double>(nett));
    long double nettAll = row.Get("NETT_WAGE");
    nettAll += row.Get("SOCSO");
    nettAll += row.Get("EIS");
    nettAll += row.Get("VOLUN");
    row.Set("NETT_WAGE", static_cast<double>(nettAll));

    // F: the nett wage is paid the way the source paid it: bank, else cheque, else cash.
    const double nettWage = row.Get("NETT_WAGE");
    if (row.Get("BANKAMT") != 0) {
        row.Set("BANKAMT", nettWage);
    } else if (row.Get("CHEQAMT") != 0) {
        row.Set("CHEQAMT", nettWage);
    } else {
        row.Set("CASHAMT", nettWage);
    }
    table.Post();
    if (run::TGroupAccount* group = form.GroupBeingMerged()) ++group->Currency.Headers;
}

// The currency codes of an employee's payroll: as the group's sources hold them (a resigned
// employee's too, whose record is not carried over), else as the destination holds them. False
// when neither knows the employee.
bool PayCurrency(TFormMerge& form, const std::string& empNo, TEmployeeCurrency& codes) {
    const auto found = form.SourceEmployeeCurrencies.find(empNo);
    if (found != form.SourceEmployeeCurrencies.end()) {
        codes = found->second;
        return true;
    }
    db::TDbQuery query("EmployeeCurrency");
    query.SetConnection(&form.dbDest);
    if (!form.dbDest.IsDictionaryConn()) {
        query.SetTablePassword(kTableEmployee, signon::kFreeTablePassword);
    }
    query.SQL().Add(kSqlEmployeeCurrency);
    query.ParamByName(kParamEmpNo).SetAsString(empNo);
    query.Open();
    const bool known = !query.Eof();
    if (known) {
        codes = {query.FieldByName(kFieldFcurrCode).AsString(),
                 query.FieldByName(kFieldLocalCurrCode).AsString()};
    }
    query.Close();
    return known;
}

// Remembers an employee whose payroll of a period stays in its own currency, with the currency
// codes of that payroll, so that the stamp at the end of the group leaves them on the employee.
void RememberUnconverted(TFormMerge& form, const std::string& empNo, const std::string& period,
                         const TEmployeeCurrency& codes, const char* reason) {
    UnconvertedEmployees(form).push_back({empNo, codes.FcurrCode, codes.LocalCurrCode, period});
    if (run::TGroupAccount* group = form.GroupBeingMerged())
        group->Currency.NotConverted.push_back({empNo, codes.FcurrCode, period, reason});
}

// The account counts the employees converted per currency, period and the rate applied.
void AccountConverted(TFormMerge& form, const std::string& empNo, const std::string& period) {
    run::TGroupAccount* group = form.GroupBeingMerged();
    if (!group) return;
    auto& converted = group->Currency.Converted;
    auto entry = std::find_if(converted.begin(), converted.end(), [&](const auto& c) {
        return c.Currency == form.EmployeeCurrency && c.Period == period &&
               c.Rate == form.EmployeeRate;
    });
    if (entry == converted.end())
        converted.push_back({form.EmployeeCurrency, form.EmployeeRate, period, 1});
    else
        ++entry->Employees;
    group->Currency.ConvertedEmployees.push_back(empNo);
}

void AccountMissingRate(TFormMerge& form, const std::string& currency, const std::string& period) {
    run::TGroupAccount* group = form.GroupBeingMerged();
    if (!group) return;
    auto& missing = group->Currency.MissingRates;
    if (std::none_of(missing.begin(), missing.end(),
                     [&](const auto& m) { return m.Currency == currency && m.Period == period; })) {
        missing.push_back({period, currency});
    }
}

}  // namespace

void ConvertHeaderRow(TFormMerge& form) {
    auto& table = form.P_HTRX;
    table.Edit();
    form.Controls.edit2 =
        form.SourceDbPath + kHtrxUpdating + table.FieldByName(kFieldEmpCode).AsString();

    // A: every amount at the employee's rate, rounded; at rate 1 this still rounds to 2 decimals.
    for (int i = 0; i < table.FieldCount(); ++i) {
        db::TField& field = table.Fields(i);
        const TFieldType type = field.DataType();
        if ((type != TFieldType::ftFloat && type != TFieldType::ftCurrency) ||
            IsKeptHeaderField(field.FieldName())) {
            continue;
        }
        field.SetAsFloat(support::RoundDecimals(
            static_cast<long double>(field.AsFloat()) * form.EmployeeRate, 2));
    }

    HeaderRow row(table);
    TakeStatutoryFields(row);
    table.Post();
}

TConversionResult ConvertCurrency(TFormMerge& form) {
    const std::string& pw = signon::kFreeTablePassword;
    UnconvertedEmployees(form).clear();

    // 1. The rate table of the last source and the destination's payroll tables.
    form.DbTableExrate.Close();
    form.DbTableExrate.Open();
    for (auto member : kConversionTables) (form.*member).Open();
    form.TableAllw.Close();
    form.TableAllw.Open();

    // 2. The selection reads encrypted tables of a free-table destination.
    auto& selection = form.DbQueryHTRX;
    if (!form.dbDest.IsDictionaryConn()) selection.SetTablePassword(kTableHtrx, pw);

    form.Controls.Memo1.push_back(kLogUpdateHtrx);

    // Every period and employee with payroll rows: one period, or each period the destination
    // holds for "999999", each converted at its own rates.
    selection.Close();
    selection.SQL().Clear();
    selection.SQL().Add(kSqlPayrollEmployees + PayrollRowsCondition(form));
    for (const char* line : kSqlPayrollEmployeesOrder) selection.SQL().Add(line);
    SetPayrollRowsParams(form, selection);
    selection.Prepare();
    selection.Open();

    const bool keepSpecial = form.Controls.chkSPE;
    while (!selection.Eof() && form.FormMsg.StepProgress()) {
        form.FormMsg.ShowProgress(selection.RecordCount(), kProgressMessage);
        form.DbTableExrate.SetIndexFieldNames(kRateIndex);

        const std::string empNo = selection.FieldByName(kFieldEmpCode).AsString();
        const std::string period = selection.FieldByName(kFieldPeriod).AsString();
        TEmployeeCurrency codes;
        if (!PayCurrency(form, empNo, codes)) {
            // Payroll of nobody the group knows has no currency to convert from.
            selection.Next();
            continue;
        }
        const std::string& fcurr = codes.FcurrCode;
        form.EmployeeCurrency = fcurr;
        bool haveRate = true;
        if (fcurr != form.StdCurr) {
            if (FindExchangeRate(form, fcurr, period, form.StdCurr)) {
                form.EmployeeRate = CurrentRate(form);
            } else {
                form.Operator().Inform(empNo + kMsgError1003 + fcurr);
                haveRate = false;
                AccountMissingRate(form, fcurr, period);
            }
        } else {
            form.EmployeeRate = 1;
        }
        form.Controls.Memo1.push_back("Employee#" + empNo + " Currency : " + fcurr +
                                      " EX RATE : " + CurrentRateText(form));

        if (haveRate) {
            AccountConverted(form, empNo, period);
            auto& headers = form.P_HTRX;
            headers.FindKey({empNo, period});
            while (!headers.Eof() && headers.FieldByName(kFieldEmpCode).AsString() == empNo &&
                   headers.FieldByName(kFieldPeriod).AsString() == period) {
                // A kept special cycle was converted by the run that brought it.
                if (!keepSpecial || headers.FieldByName(kFieldCycle).AsString() != kSpecialCycle)
                    HandleHeaderRow(form, empNo);
                headers.Next();
            }
        } else {
            // Without a rate any figure would be wrong (an earlier employee's rate, or 0):
            // the employee's payroll stays in its own currency, as copied from the source.
            RememberUnconverted(form, empNo, period, codes, kReasonMissingRate);
        }
        selection.Next();
    }
    // A stop request ends the loop; the employees it did not reach keep their payroll in its own
    // currency, and so must keep that currency on their record when the group is stamped.
    for (; !selection.Eof(); selection.Next()) {
        const std::string empNo = selection.FieldByName(kFieldEmpCode).AsString();
        TEmployeeCurrency codes;
        if (PayCurrency(form, empNo, codes)) {
            RememberUnconverted(form, empNo, selection.FieldByName(kFieldPeriod).AsString(), codes,
                                kReasonStopped);
        }
    }

    form.Stage("bank");
    ConvertBankTransactions(form);

    // The destination's amounts are all in the standard currency now.
    form.dbqryUpdate.Close();
    form.dbqryUpdate.ExecSQL();

    // Closing the window clears the stop request, so it is taken before.
    TConversionResult result;
    result.Stopped = form.FormMsg.StopRequested;
    result.NotConverted = CountUnconvertedEmployees(form);
    form.FormMsg.CloseProgress();

    for (auto member : kConversionTables) (form.*member).Close();
    form.DbTableExrate.Close();
    form.tblDest.Close();
    return result;
}

void StampEmployeeCurrency(TFormMerge& form, const std::string& code) {
    auto& query = form.DbQueryMaster;
    const bool freeTables = !form.dbDest.IsDictionaryConn();
    query.Close();
    query.SQL().Clear();
    query.SQL().Add(kSqlStampEmployees);
    query.ParamByName(kParamFcurrCode).SetAsString(code);
    query.Prepare();
    if (freeTables) query.SetTablePassword(kTableEmployee, signon::kFreeTablePassword);
    query.ExecSQL();

    // Employees whose payroll stayed in their own currency keep that currency.
    auto& unconverted = UnconvertedEmployees(form);
    for (const auto& employee : unconverted) {
        query.Close();
        query.SQL().Clear();
        query.SQL().Add(kSqlKeepEmployeeCurrency);
        query.ParamByName(kParamFcurrCode).SetAsString(employee.FcurrCode);
        query.ParamByName(kParamLocalCurrCode).SetAsString(employee.LocalCurrCode);
        query.ParamByName(kParamEmpNo).SetAsString(employee.EmpNo);
        query.Prepare();
        query.ExecSQL();
    }
    unconverted.clear();
}

}  // namespace peltorn::currency
