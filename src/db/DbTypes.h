// Value types of the database layer: field types, the date-time value, fixed-point money and
// the variant that carries one field value between the storage and the callers.
//
// Everything above the layer talks in these types; nothing above it sees SQLite's own values.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace peltorn::db {

// Field types as the payroll tables declare them. Each maps to one declared column type in the
// table files (see DbSchema.h); the mapping is fixed so that stored files stay readable.
enum class TFieldType {
    ftUnknown,
    ftString,    // character, width n
    ftSmallint,  // short integer
    ftInteger,   // 32-bit integer
    ftAutoInc,   // integer numbered by the layer
    ftFloat,     // double
    ftCurrency,  // money, 4 decimals
    ftDate,
    ftTime,
    ftDateTime,  // time stamp
    ftBoolean,   // logical
    ftMemo,
    ftGraphic,
    ftBlob,  // binary
};

std::string_view FieldTypeName(TFieldType type);

// A date-time is the number of days since 30 December 1899, the fraction being the time of day.
// The zero value is the empty date.
using TDateTime = double;

TDateTime EncodeDate(int year, int month, int day);
// A value that is no date at all (not finite, or beyond a billion days) raises
// std::invalid_argument here and in the formats below.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
// "YYYY-MM-DD"; throws std::invalid_argument on anything that is not a valid calendar date.
TDateTime ParseIsoDate(std::string_view text);
std::string FormatIsoDate(TDateTime value);
// "YYYY-MM-DD HH:MM:SS" (time stamps) and "HH:MM:SS" (times).
std::string FormatIsoDateTime(TDateTime value);

// A value money cannot hold: an amount beyond its range, a number that is not finite, or a sum
// or difference that would leave the range.
class ECurrencyRange : public std::range_error {
public:
    using std::range_error::range_error;
};

// Money: a fixed-point value with four decimals, held as ten-thousandths. Every Units value is a
// valid amount, from -922337203685477.5808 to 922337203685477.5807; conversions and sums that
// would leave that range raise ECurrencyRange instead of wrapping.
struct TCurrency {
    std::int64_t Units = 0;

    // Rounded half away from zero to 1/10000; NaN, infinity and amounts beyond the range raise
    // ECurrencyRange ("1e+15 is outside the range of money (...)", "NAN is not a finite number").
    static TCurrency FromDouble(double value);
    // True when FromDouble takes the value.
    static bool Fits(double value);
    static TCurrency FromUnits(std::int64_t units) { return TCurrency{units}; }
    double ToDouble() const { return static_cast<double>(Units) / 10000.0; }
    std::string ToString() const;  // shortest form: "12.5", "-0.0001", "100"

    friend TCurrency operator+(TCurrency a, TCurrency b) { return a.Plus(b); }
    friend TCurrency operator-(TCurrency a, TCurrency b) { return a.Minus(b); }
    TCurrency& operator+=(TCurrency o) { return *this = Plus(o); }
    TCurrency& operator-=(TCurrency o) { return *this = Minus(o); }
    friend bool operator==(TCurrency a, TCurrency b) = default;
    friend auto operator<=>(TCurrency a, TCurrency b) = default;

private:
    TCurrency Plus(TCurrency o) const;
    TCurrency Minus(TCurrency o) const;
};

// The range of money as its texts show it, for messages: "(-922337203685477.5808 to ...)".
std::string CurrencyRangeText();

// Text cut to a character field's width. The width counts bytes, as the stored widths of the
// tables do, but the cut never falls inside a UTF-8 character: a character that does not fit
// whole is left out. Text that is not UTF-8 is cut at the width. A width of 0 or less cuts
// nothing.
std::string CutToWidth(std::string_view text, int width);

// Text of a floating-point value as the layer shows it: up to 15 significant digits, no
// exponent for ordinary amounts, "." as decimal separator whatever the locale ("12.5", "100").
std::string FormatFloat(double value);

using TBlob = std::vector<std::uint8_t>;

// One field value. Null is the monostate.
class TDbValue {
public:
    using Storage = std::variant<std::monostate, std::int64_t, double, std::string, TBlob>;

    TDbValue() = default;
    TDbValue(std::int64_t v) : m_value(v) {}
    TDbValue(int v) : m_value(static_cast<std::int64_t>(v)) {}
    TDbValue(double v) : m_value(v) {}
    TDbValue(std::string v) : m_value(std::move(v)) {}
    TDbValue(const char* v) : m_value(std::string(v)) {}
    TDbValue(TBlob v) : m_value(std::move(v)) {}

    bool IsNull() const { return std::holds_alternative<std::monostate>(m_value); }
    bool IsInteger() const { return std::holds_alternative<std::int64_t>(m_value); }
    bool IsFloat() const { return std::holds_alternative<double>(m_value); }
    bool IsText() const { return std::holds_alternative<std::string>(m_value); }
    bool IsBlob() const { return std::holds_alternative<TBlob>(m_value); }

    std::int64_t Integer() const { return std::get<std::int64_t>(m_value); }
    double Float() const { return std::get<double>(m_value); }
    const std::string& Text() const { return std::get<std::string>(m_value); }
    const TBlob& Blob() const { return std::get<TBlob>(m_value); }

    const Storage& Raw() const { return m_value; }
    friend bool operator==(const TDbValue&, const TDbValue&) = default;

private:
    Storage m_value;
};

}  // namespace peltorn::db
