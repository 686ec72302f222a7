// The currency conversion of one merge group: every payroll header of the period converted into
// the standard currency with its detail rows, totals recomputed, bank transactions rebuilt, the
// destination's rates reset to 1; and the stamp that marks every employee as paid in the
// standard currency.
#pragma once

#include "startup/FormMerge.h"

#include <string>

namespace peltorn::currency {

// Called by the run once per group, after its last source.
void ConvertCurrency(TFormMerge& form);
// Called by the run at the end of each group when StdCurr is not empty.
void StampEmployeeCurrency(TFormMerge& form, const std::string& code);

}  // namespace peltorn::currency
