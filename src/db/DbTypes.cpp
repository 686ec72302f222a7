// Value types of the database layer: calendar arithmetic of the date-time value, fixed-point
// money and the text forms of numbers. Texts never depend on the machine's locale.
#include "db/DbTypes.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

namespace peltorn::db {

std::string_view FieldTypeName(TFieldType type) {
    switch (type) {
        case TFieldType::ftString: return "ftString";
        case TFieldType::ftSmallint: return "ftSmallint";
        case TFieldType::ftInteger: return "ftInteger";
        case TFieldType::ftAutoInc: return "ftAutoInc";
        case TFieldType::ftFloat: return "ftFloat";
        case TFieldType::ftCurrency: return "ftCurrency";
        case TFieldType::ftDate: return "ftDate";
        case TFieldType::ftTime: return "ftTime";
        case TFieldType::ftDateTime: return "ftDateTime";
        case TFieldType::ftBoolean: return "ftBoolean";
        case TFieldType::ftMemo: return "ftMemo";
        case TFieldType::ftGraphic: return "ftGraphic";
        case TFieldType::ftBlob: return "ftBlob";
        case TFieldType::ftUnknown: break;
    }
    return "ftUnknown";
}

namespace {

// Days from 0000-03-01 style civil calendar (proleptic Gregorian), after H. Hinnant's algorithm.
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int& y, int& m, int& d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long yy = static_cast<long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

// 1899-12-30 counted from the Unix epoch.
const long kEpochOffset = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ParseInt(std::string_view text, int& out) {
    if (text.empty()) return false;
    auto res = std::from_chars(text.data(), text.data() + text.size(), out);
    return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || year < 1 ||
        year > 9999) {
        throw std::invalid_argument("invalid date");
    }
    return static_cast<TDateTime>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
        kEpochOffset);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    // Far beyond any calendar date the day count would not fit its integer.
    if (!std::isfinite(value) || std::fabs(value) > 1e9)
        throw std::invalid_argument("invalid date");
    long days = static_cast<long>(std::floor(value));
    CivilFromDays(days + kEpochOffset, year, month, day);
}

TDateTime ParseIsoDate(std::string_view text) {
    int y = 0, m = 0, d = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !ParseInt(text.substr(0, 4), y) ||
        !ParseInt(text.substr(5, 2), m) || !ParseInt(text.substr(8, 2), d)) {
        throw std::invalid_argument("invalid date");
    }
    return EncodeDate(y, m, d);
}

std::string FormatIsoDate(TDateTime value) {
    int y, m, d;
    DecodeDate(value, y, m, d);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    return buf;
}

std::string FormatIsoDateTime(TDateTime value) {
    if (!std::isfinite(value)) throw std::invalid_argument("invalid date");
    double frac = value - std::floor(value);
    long seconds = std::lround(frac * 86400.0);
    if (seconds >= 86400) seconds = 86399;
    char buf[48];
    std::snprintf(buf, sizeof buf, " %02ld:%02ld:%02ld", seconds / 3600, (seconds / 60) % 60,
                  seconds % 60);
    return FormatIsoDate(value) + buf;
}

namespace {

// 2^63: the first scaled amount beyond the range (exact in every floating-point format).
constexpr long double kUnitsLimit = 9223372036854775808.0L;

// Scaled and rounded to ten-thousandths; within range only when -2^63 <= result < 2^63.
long double ScaledUnits(double value) {
    return std::roundl(static_cast<long double>(value) * 10000.0L);
}

bool ScaledFits(long double scaled) { return scaled >= -kUnitsLimit && scaled < kUnitsLimit; }

}  // namespace

std::string CurrencyRangeText() {
    return "(" + TCurrency::FromUnits(std::numeric_limits<std::int64_t>::min()).ToString() +
           " to " + TCurrency::FromUnits(std::numeric_limits<std::int64_t>::max()).ToString() + ")";
}

bool TCurrency::Fits(double value) {
    return std::isfinite(value) && ScaledFits(ScaledUnits(value));
}

TCurrency TCurrency::FromDouble(double value) {
    if (!std::isfinite(value)) throw ECurrencyRange(FormatFloat(value) + " is not a finite number");
    const long double scaled = ScaledUnits(value);
    if (!ScaledFits(scaled)) {
        throw ECurrencyRange(FormatFloat(value) + " is outside the range of money " +
                             CurrencyRangeText());
    }
    return TCurrency{static_cast<std::int64_t>(scaled)};
}

TCurrency TCurrency::Plus(TCurrency o) const {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(Units, o.Units, &sum)) {
        throw ECurrencyRange(ToString() + " + " + o.ToString() + " is outside the range of money " +
                             CurrencyRangeText());
    }
    return TCurrency{sum};
}

TCurrency TCurrency::Minus(TCurrency o) const {
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(Units, o.Units, &difference)) {
        throw ECurrencyRange(ToString() + " - " + o.ToString() + " is outside the range of money " +
                             CurrencyRangeText());
    }
    return TCurrency{difference};
}

std::string TCurrency::ToString() const {
    // The magnitude as unsigned: the most negative amount has no positive counterpart in Units.
    const std::uint64_t abs =
        Units < 0 ? 0 - static_cast<std::uint64_t>(Units) : static_cast<std::uint64_t>(Units);
    std::string text = std::to_string(abs / 10000);
    const unsigned frac = static_cast<unsigned>(abs % 10000);
    if (frac != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04u", frac);
        std::string f = buf;
        while (!f.empty() && f.back() == '0') f.pop_back();
        text += "." + f;
    }
    return Units < 0 ? "-" + text : text;
}

std::string CutToWidth(std::string_view text, int width) {
    if (width <= 0 || text.size() <= static_cast<std::size_t>(width)) return std::string(text);
    const std::size_t cut = static_cast<std::size_t>(width);
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    auto continuation = [&](std::size_t i) { return (byte(i) & 0xC0) == 0x80; };
    if (!continuation(cut)) return std::string(text.substr(0, cut));
    // The byte after the cut continues a character: find where that character begins (at most
    // three bytes back) and leave it out when its lead byte says it reaches past the cut.
    std::size_t start = cut;
    while (start > 0 && cut - start < 3 && continuation(start)) --start;
    const unsigned char lead = byte(start);
    const std::size_t length = lead >= 0xF0 && lead < 0xF8   ? 4
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xC0 && lead < 0xE0 ? 2
                                                             : 0;
    if (length != 0 && start + length > cut) return std::string(text.substr(0, start));
    return std::string(text.substr(0, cut));
}

std::string FormatFloat(double value) {
    if (value == 0) return "0";
    if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
    // Shortest of up to 15 significant digits, as an amount is shown to an operator.
    char buf[64];
    for (int precision = 1; precision <= 15; ++precision) {
        auto res =
            std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, precision);
        double back = 0;
        std::from_chars(buf, res.ptr, back);
        if (back == value || precision == 15) {
            std::string text(buf, res.ptr);
            // Amounts are shown without an exponent while they fit 15 digits.
            if (text.find('e') != std::string::npos && std::fabs(value) >= 1e-5 &&
                std::fabs(value) < 1e15) {
                auto fixed = std::to_chars(
                    buf, buf + sizeof buf, value, std::chars_format::fixed,
                    std::max(0, precision - 1 -
                                    static_cast<int>(std::floor(std::log10(std::fabs(value))))));
                text.assign(buf, fixed.ptr);
            }
            return text;
        }
    }
    return std::string(buf);
}

}  // namespace peltorn::db
