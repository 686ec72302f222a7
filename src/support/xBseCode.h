// Powers of ten, the near-zero test and the rounding of money amounts. The currency conversion
// rounds every converted amount with RoundDecimals(amount, 2).
#pragma once

#include <cstdint>

namespace peltorn::support {

// 1 multiplied by base exp times, each product cut to 32 bits (wrapping like the machine's
// 32-bit multiplication); exp 0 gives 1.
std::int32_t IntPow(std::int32_t base, std::uint16_t exp);

// 10 to the power decimals, by IntPow with the low 16 bits of decimals as exponent. Meant for
// decimals 0 to 9, where the power fits 32 bits.
std::int32_t PowerOfTen(int decimals);

// True when -1e-08 < value < 1e-08.
bool IsNearZero(long double value);

// amount rounded to decimals decimals (0 to 9), half away from zero, as a double. Never returns
// a negative zero. A scaled amount whose fraction is 0.495 or more counts as a half (see the
// implementation). Raises std::domain_error when amount is not a finite number or too large for a
// double once scaled, std::out_of_range for decimals outside 0 to 9.
double RoundDecimals(long double amount, int decimals);

}  // namespace peltorn::support
