// Conversion of the detail rows of one payroll header (the eight P_DTRX* tables of the
// destination) into the standard currency, and the sorting of allowance rows into the sums from
// which the header totals are recomputed.
//
// Inputs, as the header recomputation leaves them: the current P_HTRX row (EMPCODE, PERIOD,
// CYCLE), the employee's pay currency EmployeeCurrency, EmployeeRate,
// StdCurr, the rate table and the allowance master TableAllw (ALLOWNCE, "ALLOW_CODE;YEAR"), all
// open.
#pragma once

#include "startup/FormMerge.h"

#include <string>
#include <string_view>

namespace peltorn::currency {

// Converts every row of table whose EMPCODE, PERIOD and CYCLE equal the current header row's
// (the table's index must lead with those three fields) and returns the total of totalField over
// those rows, after conversion. General tables: every floating-point or money field except the
// counts and wage bases (FREQUENCY, DAY, HOUR, OTHRS, OTFACTOR, SHIFT_NO, CPFOWWAGE, CPFAWWAGE)
// becomes RoundDecimals(value x EmployeeRate, 2). The allowance table P_DTRXAW instead gets the
// allowance currency rules and is sorted into AllowanceSum, DeductionSum, BonusSum, GrossOnlySum
// and NettOnlySum (RowCredit holds the credit of the last row). Every row is posted. A field that
// the rules name and the table lacks raises db::EDbDatasetError; database errors propagate.
db::TCurrency ConvertDetailRows(TFormMerge& form, db::TDbTable& table,
                                const std::string& totalField);

// The credit of an allowance row (table on the row): minus its AMOUNT when its code is found in
// TableAllw for the row's year, AMOUNT > 0 and the code is a non-taxable credit; else 0.
db::TCurrency CreditAdjustment(TFormMerge& form, db::TDataSet& row);

// True when code begins with "@$" and isTax is blank (spaces only) or exactly "0".
bool IsNonTaxableCredit(std::string_view code, std::string_view isTax);

}  // namespace peltorn::currency
