// xBseCode: powers of ten, the near-zero test and RoundDecimals.
//
// RoundDecimals is deliberately not a plain "scale, add a half, cut": between adding the half and
// cutting, the scaled value is written with two decimals and read back. That step absorbs the
// representation error of binary floating point (2.675 * 100 + 0.5 comes out as
// 267.99999999999997, which must count as 268), and with it makes a scaled fraction of 0.495 or
// more round away from zero. The currency conversion's totals depend on exactly this rounding:
// do not replace it with std::round.
#include "support/xBseCode.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>
#include <system_error>

namespace peltorn::support {

namespace {

constexpr long double kNearZero = 1e-08L;
// The formatter reads a value to this many significant digits (the precision of an extended
// value) before it rounds the digit string to the decimals of the pattern.
constexpr int kFormatPrecision = 18;
constexpr int kFormatDecimals = 2;
// 10^9 is the largest power of ten of 32 bits.
constexpr int kMaxDecimals = 9;

// The text of value with two decimals and "." as decimal separator, whatever the locale, as the
// pattern "0.00" writes it: value to kFormatPrecision significant digits, then the digit string
// rounded at the second decimal half away from zero (not half to even, and not on the binary
// value as printf does).
std::string FormatTwoDecimals(double value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                   std::chars_format::scientific, kFormatPrecision - 1);
    if (ec != std::errc()) throw std::domain_error("RoundDecimals: cannot format the amount");
    const std::string text(buffer, end);  // [-]d.ddddde[+-]xx

    const bool negative = text[0] == '-';
    const std::size_t mantissaStart = negative ? 1 : 0;
    const std::size_t ePos = text.find('e');
    std::string digits;
    for (std::size_t i = mantissaStart; i < ePos; ++i) {
        if (text[i] != '.') digits += text[i];
    }
    int exponent = 0;
    std::from_chars(text.data() + ePos + 1 + (text[ePos + 1] == '+' ? 1 : 0),
                    text.data() + text.size(), exponent);

    // digits d0 d1 d2 ... stand for d0.d1d2... * 10^exponent. Lay them out as integer digits
    // followed by exactly kFormatDecimals + 1 decimals (padding with zeros), the last one only
    // deciding the rounding.
    const int intDigits = exponent + 1;
    std::string integerPart;
    std::string fraction;
    if (intDigits <= 0) {
        integerPart = "0";
        fraction = std::string(static_cast<std::size_t>(-intDigits), '0') + digits;
    } else if (static_cast<std::size_t>(intDigits) >= digits.size()) {
        integerPart =
            digits + std::string(static_cast<std::size_t>(intDigits) - digits.size(), '0');
    } else {
        integerPart = digits.substr(0, static_cast<std::size_t>(intDigits));
        fraction = digits.substr(static_cast<std::size_t>(intDigits));
    }
    fraction.resize(kFormatDecimals + 1, '0');
    const bool roundUp = fraction[kFormatDecimals] >= '5';
    std::string kept = integerPart + fraction.substr(0, kFormatDecimals);
    if (roundUp) {
        std::size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
        if (i == 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[i - 1];
    }
    std::string result = negative ? "-" : "";
    result += kept.substr(0, kept.size() - kFormatDecimals);
    result += '.';
    result += kept.substr(kept.size() - kFormatDecimals);
    return result;
}

double ReadNumber(const std::string& text) {
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) {
        throw std::domain_error("RoundDecimals: '" + text +
                                "' is not a valid floating point value");
    }
    return value;
}

}  // namespace

std::int32_t IntPow(std::int32_t base, std::uint16_t exp) {
    // Unsigned arithmetic gives the 32-bit wrap-around without undefined behaviour.
    std::uint32_t result = 1;
    for (std::uint16_t i = 0; i < exp; ++i) result *= static_cast<std::uint32_t>(base);
    return static_cast<std::int32_t>(result);
}

std::int32_t PowerOfTen(int decimals) {
    return IntPow(10, static_cast<std::uint16_t>(static_cast<unsigned>(decimals) & 0xFFFFu));
}

bool IsNearZero(long double value) { return -kNearZero < value && value < kNearZero; }

double RoundDecimals(long double amount, int decimals) {
    if (!std::isfinite(amount)) {
        throw std::domain_error("RoundDecimals: the amount is not a finite number");
    }
    if (decimals < 0 || decimals > kMaxDecimals) {
        throw std::out_of_range("RoundDecimals: " + std::to_string(decimals) +
                                " decimals asked for, at most " + std::to_string(kMaxDecimals) +
                                " are possible");
    }
    const std::int32_t p = PowerOfTen(decimals);
    const long double h = amount >= 0 ? 0.5L : -0.5L;
    const double d = static_cast<double>(amount * p + h);
    if (!std::isfinite(d)) throw std::domain_error("RoundDecimals: the amount is too large");
    // The integer part is cut on the floating-point value, so amounts of any size keep their
    // digits instead of overflowing an integer type.
    const double whole = std::trunc(ReadNumber(FormatTwoDecimals(d)));
    double r = whole / static_cast<double>(p);
    if (IsNearZero(r)) r = 0.0;
    return r;
}

}  // namespace peltorn::support
