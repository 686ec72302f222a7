// Detail-row conversion of one payroll header. The general detail tables (no-pay hours and days,
// absences, shifts, overtime, rest days, leave) are multiplied by the employee's rate field by
// field; the allowance table carries its own currency per row and is converted by the allowance
// currency rules, then sorted into the sums the header totals are rebuilt from.
//
// Every amount is written back rounded to 2 decimals even at rate 1: the destination then holds
// the same precision for every employee, whatever currency they were paid in.
#include "currency/DetailRows.h"

#include "currency/CurrencyTexts.h"
#include "currency/ExchangeRate.h"
#include "support/StrUtil.h"
#include "support/xBseCode.h"

#include <algorithm>
#include <cctype>

namespace peltorn::currency {

namespace {

using db::TFieldType;

// Counts, factors and wage bases of the detail tables: they are not amounts and keep their
// values. Compared exactly, as the tables spell them.
constexpr const char* kDetailKeepFields[] = {"CPFOWWAGE", "CPFAWWAGE", "FREQUENCY", "DAY",
                                             "HOUR",      "OTHRS",     "OTFACTOR",  "SHIFT_NO"};

bool IsAmountType(TFieldType type) {
    return type == TFieldType::ftFloat || type == TFieldType::ftCurrency;
}

bool IsKeptDetailField(const std::string& name) {
    return std::find_if(std::begin(kDetailKeepFields), std::end(kDetailKeepFields),
                        [&](const char* kept) { return name == kept; }) !=
           std::end(kDetailKeepFields);
}

bool IsStatutoryCode(const std::string& code) {
    return std::find_if(std::begin(kStatutoryCodes), std::end(kStatutoryCodes),
                        [&](const char* c) { return code == c; }) != std::end(kStatutoryCodes);
}

// The allowance table is recognised by its table name, with or without the file extension.
bool IsAllowanceTable(const db::TDbTable& table) {
    std::string name = table.TableName();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ADT") == 0)
        name.resize(name.size() - 4);
    return name == kTableAllowanceRows;
}

std::string Year(const std::string& period) { return support::SubStr(period, 1, 4); }

void ConvertGeneralRow(TFormMerge& form, db::TDbTable& table) {
    for (int i = 0; i < table.FieldCount(); ++i) {
        db::TField& field = table.Fields(i);
        if (!IsAmountType(field.DataType()) || IsKeptDetailField(field.FieldName())) continue;
        // A null amount reads as 0 and is written back as 0.
        field.SetAsFloat(support::RoundDecimals(
            static_cast<long double>(field.AsFloat()) * form.EmployeeRate, 2));
    }
}

// The allowance currency rules. F: the employee's pay currency, S: the standard currency,
// C: the row's own currency (of FAMOUNT).
void ApplyAllowanceCurrency(TFormMerge& form, db::TDbTable& rows, db::TField& currCode) {
    db::TField& amount = rows.FieldByName(kFieldAmount);
    db::TField& famount = rows.FieldByName(kFieldFamount);
    const std::string F = form.EmployeeCurrency;
    const std::string& S = form.StdCurr;
    const std::string C = currCode.AsString();
    const std::string empCode = form.P_HTRX.FieldByName(kFieldEmpCode).AsString();

    // The run log shows the rate the row's amount was converted with; where no rate entered it
    // (paid in the standard currency, a missing rate) the current rate row's, as always.
    std::string appliedRate = CurrentRateText(form);
    if (F != S) {
        if (C.empty()) {
            appliedRate = db::FormatFloat(form.EmployeeRate);
            // The row is in the employee's own currency: the employee's rate applies, whatever
            // rate row an earlier row of the employee moved the rate table to.
            amount.SetAsFloat(support::RoundDecimals(
                static_cast<long double>(amount.AsFloat()) * form.EmployeeRate, 2));
        } else if (C == S) {
            amount.SetAsFloat(famount.AsFloat());  // already in the standard currency
            appliedRate = "1";
        } else {
            const std::string period = form.P_HTRX.FieldByName(kFieldPeriod).AsString();
            if (FindExchangeRate(form, C, period, S)) {
                appliedRate = CurrentRateText(form);
                amount.SetAsFloat(support::RoundDecimals(
                    static_cast<long double>(famount.AsFloat()) * CurrentRate(form), 2));
            } else {
                form.Operator().Inform(std::string(kMsgError1000) + C + " Employee# " + empCode);
            }
        }
    }
    // An employee paid in the standard currency keeps AMOUNT as it is, whatever C says.

    form.Controls.Memo1.push_back("employee# " + empCode + " FCURR_CODE " + F + " STDCURR " + S +
                                  " RATE " + appliedRate + " Local$ " + amount.AsString() +
                                  " FAMT : " + famount.AsString());
    // The destination keeps only the standard-currency amount.
    famount.Clear();
    if (db::TField* rate = rows.FindField(kFieldExRate)) rate->Clear();
    currCode.SetAsString("");
}

void SortAllowanceRow(TFormMerge& form, db::TDbTable& rows) {
    db::TField& amount = rows.FieldByName(kFieldAmount);
    const std::string code = rows.FieldByName(kFieldAllwDedCode).AsString();
    const std::string F = form.EmployeeCurrency;

    if (IsStatutoryCode(code) && F != form.StdCurr) {
        db::TField* amount2 = rows.FindField(kFieldAmount2);
        if (amount2 && amount2->AsFloat() != 0) amount.SetAsFloat(amount2->AsFloat());
    }

    form.RowCredit = CreditAdjustment(form, rows).ToDouble();
    const double value = amount.AsFloat();

    if (support::SubStr(support::TrimSpaces(code), 1, 4) == kBonusPrefix) {
        form.BonusSum += value;
        return;
    }
    if (form.RowCredit != 0) {
        form.GrossOnlySum += form.RowCredit;
        return;
    }
    auto& allowances = form.TableAllw;
    const std::string period = rows.FieldByName(kFieldPeriod).AsString();
    if (allowances.FindKey({code, Year(period)}) &&
        allowances.FieldByName(kFieldIsAbsent).AsString() == kAbsentMark) {
        return;  // a memo code: converted, counted nowhere
    }
    if (support::SubStr(code, 1, 2) == kCreditPrefix) {
        form.NettOnlySum += value;
    } else if (value > 0) {
        form.AllowanceSum += value;
    } else {
        if (code != kTaxCode) form.DeductionSum += value;
        if (support::SubStr(code, 1, 1) == kGrossDeductionPrefix) form.GrossOnlySum += value;
    }
}

}  // namespace

bool IsNonTaxableCredit(std::string_view code, std::string_view isTax) {
    return support::SubStr(code, 1, 2) == kCreditPrefix &&
           (support::TrimSpaces(isTax).empty() || isTax == kNotTaxable);
}

db::TCurrency CreditAdjustment(TFormMerge& form, db::TDataSet& row) {
    const std::string code = row.FieldByName(kFieldAllwDedCode).AsString();
    const std::string period = row.FieldByName(kFieldPeriod).AsString();
    const db::TCurrency amount = row.FieldByName(kFieldAmount).AsCurrency();
    auto& allowances = form.TableAllw;
    if (allowances.FindKey({code, Year(period)}) && amount > db::TCurrency{} &&
        IsNonTaxableCredit(code, allowances.FieldByName(kFieldIsTax).AsString())) {
        return db::TCurrency::FromUnits(-amount.Units);
    }
    return {};
}

db::TCurrency ConvertDetailRows(TFormMerge& form, db::TDbTable& table,
                                const std::string& totalField) {
    db::TCurrency total;
    const std::string empCode = form.P_HTRX.FieldByName(kFieldEmpCode).AsString();
    const std::string period = form.P_HTRX.FieldByName(kFieldPeriod).AsString();
    const std::string cycle = form.P_HTRX.FieldByName(kFieldCycle).AsString();
    const bool allowance = IsAllowanceTable(table);

    // A failed search leaves the table on a row of another key, which ends the loop at once.
    table.FindKey({empCode, period, cycle});
    while (!table.Eof() && table.FieldByName(kFieldEmpCode).AsString() == empCode &&
           table.FieldByName(kFieldPeriod).AsString() == period &&
           table.FieldByName(kFieldCycle).AsString() == cycle) {
        table.Edit();
        if (allowance) {
            if (db::TField* currCode = table.FindField(kFieldCurrCode)) {
                ApplyAllowanceCurrency(form, table, *currCode);
            }
            SortAllowanceRow(form, table);
        } else {
            ConvertGeneralRow(form, table);
        }
        table.Post();
        total += table.FieldByName(totalField).AsCurrency();
        table.Next();
    }
    return total;
}

}  // namespace peltorn::currency
