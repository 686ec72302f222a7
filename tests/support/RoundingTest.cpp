// RoundDecimals, its powers of ten and near-zero test, and the year and month of a date.
#include "support/DateUtil.h"
#include "support/xBseCode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace peltorn::support {
namespace {

TEST(RoundDecimalsTest, TwoDecimalsHalfAwayFromZero) {
    EXPECT_EQ(RoundDecimals(1.2349L, 2), 1.23);
    EXPECT_EQ(RoundDecimals(2.675L, 2), 2.68);  // 267.99999999999997 counts as 268
    EXPECT_EQ(RoundDecimals(-2.675L, 2), -2.68);
    EXPECT_EQ(RoundDecimals(1.005L, 2), 1.01);
    EXPECT_EQ(RoundDecimals(0.005L, 2), 0.01);
    EXPECT_EQ(RoundDecimals(-0.005L, 2), -0.01);
    EXPECT_EQ(RoundDecimals(0.0049L, 2), 0.0);
    EXPECT_EQ(RoundDecimals(0.125L, 2), 0.13);  // exactly representable half: away, not even
    EXPECT_EQ(RoundDecimals(-0.125L, 2), -0.13);
}

TEST(RoundDecimalsTest, AmountsGivenAsDoublesRoundTheSame) {
    // The currency conversion passes field values (doubles) times a rate.
    EXPECT_EQ(RoundDecimals(static_cast<long double>(2.675), 2), 2.68);
    EXPECT_EQ(RoundDecimals(static_cast<long double>(1.005), 2), 1.01);
    EXPECT_EQ(RoundDecimals(static_cast<long double>(1234.5) * 0.3L, 2), 370.35);
}

TEST(RoundDecimalsTest, ScaledFractionFrom0495CountsAsHalf) {
    // 1.23496 * 100 + 0.5 = 123.996, written "124.00".
    EXPECT_EQ(RoundDecimals(1.23496L, 2), 1.24);
    EXPECT_EQ(RoundDecimals(1.23494L, 2), 1.23);
    EXPECT_EQ(RoundDecimals(-1.23496L, 2), -1.24);
    EXPECT_EQ(RoundDecimals(-1.23494L, 2), -1.23);
}

TEST(RoundDecimalsTest, ZeroDecimals) {
    EXPECT_EQ(RoundDecimals(2.5L, 0), 3.0);
    EXPECT_EQ(RoundDecimals(-2.5L, 0), -3.0);
    EXPECT_EQ(RoundDecimals(2.496L, 0), 3.0);
    EXPECT_EQ(RoundDecimals(2.494L, 0), 2.0);
    EXPECT_EQ(RoundDecimals(-2.494L, 0), -2.0);
    EXPECT_EQ(RoundDecimals(0.4L, 0), 0.0);
}

TEST(RoundDecimalsTest, NeverGivesNegativeZero) {
    for (long double amount : {-0.001L, -0.0049L, -0.0L, -1e-12L}) {
        const double r = RoundDecimals(amount, 2);
        EXPECT_EQ(r, 0.0) << static_cast<double>(amount);
        EXPECT_FALSE(std::signbit(r)) << static_cast<double>(amount);
    }
    EXPECT_FALSE(std::signbit(RoundDecimals(-0.4L, 0)));
}

TEST(RoundDecimalsTest, EveryCentAtTheHalfAndJustBelowIt) {
    // For k cents, k + 0.5 cents rounds to k + 1 (away from zero), k + 0.4949 cents to k; the
    // same mirrored for deductions.
    for (int k = 0; k <= 200000; k += 7) {
        const long double half = (k + 0.5L) / 100.0L;
        const long double below = (k + 0.4949L) / 100.0L;
        ASSERT_EQ(RoundDecimals(half, 2), (k + 1) / 100.0) << k;
        ASSERT_EQ(RoundDecimals(-half, 2), -(k + 1) / 100.0) << k;
        ASSERT_EQ(RoundDecimals(below, 2), k / 100.0) << k;
        ASSERT_EQ(RoundDecimals(-below, 2), k == 0 ? 0.0 : -k / 100.0) << k;
    }
}

TEST(RoundDecimalsTest, LargeAmountsKeepTheirDigits) {
    EXPECT_EQ(RoundDecimals(123456789.125L, 2), 123456789.13);
    EXPECT_EQ(RoundDecimals(-98765432.105L, 2), -98765432.11);
    EXPECT_EQ(RoundDecimals(1e15L, 2), 1e15);  // beyond a 32-bit or cent-exact range, no overflow
    EXPECT_EQ(RoundDecimals(5e20L, 0), 5e20);
}

TEST(RoundDecimalsTest, RejectsWhatCannotBeRounded) {
    EXPECT_THROW(RoundDecimals(std::nanl(""), 2), std::domain_error);
    EXPECT_THROW(RoundDecimals(HUGE_VALL, 2), std::domain_error);
    EXPECT_THROW(RoundDecimals(1.0L, 10), std::out_of_range);
    EXPECT_THROW(RoundDecimals(1.0L, -1), std::out_of_range);
}

TEST(PowerOfTenTest, RepeatedThirtyTwoBitProducts) {
    EXPECT_EQ(PowerOfTen(0), 1);
    EXPECT_EQ(PowerOfTen(2), 100);
    EXPECT_EQ(PowerOfTen(9), 1000000000);
    EXPECT_EQ(PowerOfTen(0x10002), 100);    // only the low 16 bits are the exponent
    EXPECT_EQ(IntPow(10, 10), 1410065408);  // 10^10 mod 2^32
    EXPECT_EQ(IntPow(-3, 3), -27);
    EXPECT_EQ(IntPow(7, 0), 1);
}

TEST(IsNearZeroTest, OpenIntervalOfOneHundredMillionth) {
    EXPECT_TRUE(IsNearZero(5e-09L));
    EXPECT_TRUE(IsNearZero(-5e-09L));
    EXPECT_TRUE(IsNearZero(0.0L));
    EXPECT_FALSE(IsNearZero(2e-08L));
    EXPECT_FALSE(IsNearZero(-2e-08L));
    EXPECT_FALSE(IsNearZero(1e-08L));
    EXPECT_FALSE(IsNearZero(-1e-08L));
}

// Serial numbers: days since 30 December 1899.
TEST(DateUtilTest, YearAndMonthOfKnownDays) {
    EXPECT_EQ(YearOfDate(45657.0), 2024);  // 31 December 2024
    EXPECT_EQ(MonthOfDate(45657.0), 12);
    EXPECT_EQ(MonthOfDate(45657.99999), 12);  // a time of day does not move the date
    EXPECT_EQ(MonthOfDate(36585.0), 2);       // 29 February 2000
    EXPECT_EQ(MonthOfDate(36586.0), 3);       // 1 March 2000
    EXPECT_EQ(MonthOfDate(61.0), 3);          // 1 March 1900
    EXPECT_EQ(YearOfDate(0.0), 1899);
    EXPECT_EQ(MonthOfDate(0.0), 12);
    EXPECT_EQ(YearOfDate(2958465.5), 9999);
    EXPECT_EQ(MonthOfDate(-1.25), 12);  // 29 December 1899, 6 o'clock
}

TEST(DateUtilTest, AgreesWithADayByDayCalendarFrom1600To2400) {
    auto daysIn = [](int y, int m) {
        static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        return m == 2 && leap ? 29 : kDays[m - 1];
    };
    int year = 1600, month = 1, day = 1;
    for (long serial = -109571; year < 2400; ++serial) {  // -109571 is 1 January 1600
        // Noon of the day: the fraction counts away from the base on both sides of it.
        const double noon = static_cast<double>(serial) + (serial < 0 ? -0.5 : 0.5);
        ASSERT_EQ(YearOfDate(noon), year) << serial;
        ASSERT_EQ(MonthOfDate(static_cast<double>(serial)), month) << serial;
        if (++day > daysIn(year, month)) {
            day = 1;
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
    }
}

TEST(DateUtilTest, RejectsValuesOutsideTheCalendar) {
    EXPECT_THROW(YearOfDate(2958466.0), std::out_of_range);  // 1 January 10000
    EXPECT_THROW(MonthOfDate(-693594.0), std::out_of_range);
    EXPECT_THROW(YearOfDate(std::nan("")), std::out_of_range);
    EXPECT_EQ(YearOfDate(-693593.0), 1);  // 1 January 0001
}

}  // namespace
}  // namespace peltorn::support
