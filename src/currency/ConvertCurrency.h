// The currency conversion of one merge group: every payroll header of the period converted into
// the standard currency with its detail rows, totals recomputed, bank transactions rebuilt, the
// destination's rates reset to 1; and the stamp that marks every employee as paid in the
// standard currency.
#pragma once

#include "startup/FormMerge.h"

#include <cstddef>
#include <string>

namespace peltorn::currency {

// Called by the run once per group, after its last source: dbDest on the destination, dbSource
// on the group's last source (whose EXRATE gives the rates), EditPeriod the period ("999999":
// every period in P_HTRX, each at its own rates; cycle "S" left alone under chkSPE). For every
// employee with P_HTRX rows of the period, in the currency the group's sources hold on the
// employee (SourceEmployeeCurrencies, else the destination's EMPLOYEE): find the rate (1 for
// StdCurr), convert each header row
// of the period and its detail rows, recompute TOTAL_ALLOWANCE, TOTAL_DEDUCTION, the detail
// totals, gross_wage, NETT_WAGE and the payment amount. An employee whose rate is missing is
// reported and left unconverted. Then the bank transactions are rebuilt, every destination rate
// set to 1 and the progress window closed. Writes the run log (Memo1). A stop request in the
// progress window leaves the remaining employees unconverted (remembered like a missing rate, so
// that the stamp leaves their pay currency on them). Database errors propagate (tables opened
// here stay open then).
struct TConversionResult {
    bool Stopped = false;          // the operator asked to stop during the conversion
    std::size_t NotConverted = 0;  // employees whose payroll stayed in its own currency
};
TConversionResult ConvertCurrency(TFormMerge& form);

// Converts the current P_HTRX row (stages A and B): every floating-point or money field except
// the day counts and the contribution fields becomes RoundDecimals(value x EmployeeRate, 2); the
// contributions are then taken from the row's "S_" fields where the table has them. Posts the
// row and shows the progress text in edit2.
void ConvertHeaderRow(TFormMerge& form);

// Called by the run at the end of each group when StdCurr is not empty: every destination
// employee gets FCURR_CODE and LOCAL_CURR_CODE equal to code, except the employees the group's
// conversion left unconverted, who keep their pay currency.
void StampEmployeeCurrency(TFormMerge& form, const std::string& code);

}  // namespace peltorn::currency
