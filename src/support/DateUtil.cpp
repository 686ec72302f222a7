// DateUtil: the Gregorian decomposition of a date-time value into year and month.
//
// The day is the integral part of the value, cut towards zero: the fraction is the time of day
// on both sides of 30 December 1899, so -1.25 is 29 December 1899 at 6 o'clock.
#include "support/DateUtil.h"

#include <cmath>
#include <stdexcept>

namespace peltorn::support {

namespace {

// Days from 1 January 1970 to 30 December 1899 (negative: the base lies before).
constexpr long long kBaseFromUnixEpoch = -25569;
// Day numbers (days since the base) of 1 January 0001 and 31 December 9999.
constexpr long long kFirstDay = -693593;
constexpr long long kLastDay = 2958465;

struct CivilDate {
    long long Year;
    unsigned Month;
    unsigned Day;
};

// The proleptic Gregorian date of a day counted from 1 January 1970, computed over 400-year
// eras so that it holds for every day without a table.
CivilDate CivilFromUnixDays(long long z) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;                                       // [0, 146096]
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
    const long long mp = (5 * doy + 2) / 153;                                     // [0, 11]
    const unsigned day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    const unsigned month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

CivilDate Decode(db::TDateTime value) {
    if (!std::isfinite(value) || std::trunc(value) < static_cast<double>(kFirstDay) ||
        std::trunc(value) > static_cast<double>(kLastDay)) {
        throw std::out_of_range("Invalid date value: not a date of the years 1 to 9999");
    }
    const auto day = static_cast<long long>(std::trunc(value));
    return CivilFromUnixDays(day + kBaseFromUnixEpoch);
}

}  // namespace

std::uint16_t YearOfDate(db::TDateTime value) {
    return static_cast<std::uint16_t>(Decode(value).Year);
}

std::uint16_t MonthOfDate(db::TDateTime value) {
    return static_cast<std::uint16_t>(Decode(value).Month);
}

}  // namespace peltorn::support
