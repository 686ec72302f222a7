// Year and month of a date-time value, used for the period list of the main window (the
// periods of the current year, the current month selected).
#pragma once

#include "db/DbTypes.h"

#include <cstdint>

namespace peltorn::support {

// The Gregorian year of value (days since 30 December 1899; the fraction is the time of day).
// Raises std::out_of_range for a value outside the years 1 to 9999 or not a number.
std::uint16_t YearOfDate(db::TDateTime value);
// The month of value, 1 to 12; the same failure as YearOfDate.
std::uint16_t MonthOfDate(db::TDateTime value);

}  // namespace peltorn::support
