// The exchange-rate lookup of the currency conversion. Rates come from the EXRATE table of the
// database dbSource stands on when the conversion runs (the group's last source company), through
// the component DbTableExrate; one row per currency, target currency and period, amount in CURR
// times EX_RATE gives the amount in EXCODE. There is no fallback to another period.
//
// The "current rate row" is the row DbTableExrate stands on: a successful lookup moves it, a
// failed one leaves it where it was. The conversion reads EX_RATE from it.
#pragma once

#include "startup/FormMerge.h"

#include <string>

namespace peltorn::currency {

// Looks up the rate of currency into target for period on the open DbTableExrate (index
// "CURR;EXCODE;PERIOD" made current). Blank currency, StdCurr or target are each reported in a
// message box and the search goes on. For currency equal to StdCurr (exact text) a missing row
// (currency, currency, period) with EX_RATE 1 is added to the rate table first. Returns true and
// leaves the table on the row found; otherwise shows "Undefined Exrate Table. Rate : ..." with
// the current rate row's rate and returns false, the table unmoved. Database errors (the table
// not open, a failed post) propagate.
bool FindExchangeRate(TFormMerge& form, const std::string& currency, const std::string& period,
                      const std::string& target);

// EX_RATE of the current rate row as text ("" when the table is closed or has no row).
std::string CurrentRateText(TFormMerge& form);
// EX_RATE of the current rate row (0 when the table is closed or has no row).
double CurrentRate(TFormMerge& form);

}  // namespace peltorn::currency
