// CSV reading and writing, and the text form of field values, for the database tool.
//
// Export and import must agree on every value, so that a table exported and imported again holds
// the same rows: both sides go through FieldText and AssignFieldText, which use the same forms.
#include "cli/DbCsv.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace peltorn::cli {

using db::TFieldType;

std::vector<TCsvRow> ParseCsv(std::string_view text) {
    std::vector<TCsvRow> rows;
    TCsvRow current{1, {}};
    std::string cell;
    bool quoted = false;  // the current record has a quoted cell
    int line = 1;         // physical line, for messages about quotes
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto endRecord = [&] {
        current.Blank = current.Cells.empty() && cell.empty() && !quoted;
        current.Cells.push_back(std::move(cell));
        cell.clear();
        quoted = false;
        rows.push_back(std::move(current));
        current = TCsvRow{static_cast<int>(rows.size()) + 1, {}};
    };
    if (n == 0) return rows;
    // Spreadsheet programs often begin a saved CSV file with a byte-order mark; it is not part of
    // the first column's name.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) i = kByteOrderMark.size();
    if (i == n) return rows;
    while (i < n) {
        char c = text[i];
        if (c == '"' && cell.empty()) {
            quoted = true;
            int startLine = line;
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        cell += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                if (text[i] == '\n') ++line;
                cell += text[i++];
            }
            if (!closed) {
                throw std::runtime_error("row " + std::to_string(current.Row) +
                                         ": quoted value opened on line " +
                                         std::to_string(startLine) + " is never closed");
            }
            if (i < n && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
                throw std::runtime_error("row " + std::to_string(current.Row) +
                                         ": text after a closing quote");
            }
            continue;
        }
        if (c == ',') {
            current.Cells.push_back(std::move(cell));
            cell.clear();
            ++i;
        } else if (c == '\r' && i + 1 < n && text[i + 1] == '\n') {
            endRecord();
            ++line;
            i += 2;
        } else if (c == '\n') {
            endRecord();
            ++line;
            ++i;
        } else {
            cell += c;
            ++i;
        }
    }
    // A last record without line break.
    char last = text[n - 1];
    if (last != '\n') endRecord();
    while (!rows.empty() && rows.back().Blank) rows.pop_back();
    return rows;
}

void WriteCsvRow(std::ostream& out, const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i) out << ',';
        const std::string& s = cells[i];
        if (s.find_first_of(",\"\r\n") == std::string::npos) {
            out << s;
            continue;
        }
        out << '"';
        for (char c : s) {
            if (c == '"') out << '"';
            out << c;
        }
        out << '"';
    }
    out << "\r\n";
}

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string Hex(const db::TBlob& blob) {
    std::string s;
    s.reserve(blob.size() * 2);
    for (auto b : blob) {
        s += kHexDigits[b >> 4];
        s += kHexDigits[b & 15];
    }
    return s;
}

std::string TimeOfDay(db::TDateTime value) {
    return db::FormatIsoDateTime(value).substr(11);  // "YYYY-MM-DD " precedes the time
}

[[noreturn]] void Refuse(std::string_view text, const std::string& why) {
    throw std::runtime_error("'" + std::string(text) + "' " + why);
}

std::int64_t ParseWhole(std::string_view text, std::int64_t lo, std::int64_t hi) {
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec == std::errc::result_out_of_range || (ec == std::errc() && (v < lo || v > hi)))
        Refuse(text, "is out of range for an integer field");
    if (ec != std::errc() || end != text.data() + text.size())
        Refuse(text, "is not a whole number");
    return v;
}

double ParseNumber(std::string_view text) {
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        Refuse(text, "is not a number");
    return v;
}

// Money: optional minus, digits, optionally "." and one to four decimals; exact, no rounding.
db::TCurrency ParseMoney(std::string_view text) {
    std::string_view s = text;
    bool negative = !s.empty() && s.front() == '-';
    if (negative) s.remove_prefix(1);
    auto dot = s.find('.');
    std::string_view whole = s.substr(0, dot);
    std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    auto allDigits = [](std::string_view d) {
        for (char c : d)
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        return true;
    };
    if (whole.empty() || !allDigits(whole) || !allDigits(frac) ||
        (dot != std::string_view::npos && frac.empty()))
        Refuse(text, "is not an amount");
    if (frac.size() > 4) Refuse(text, "has more than four decimals");
    if (whole.size() > 14) Refuse(text, "is too large an amount");
    std::int64_t units = 0;
    for (char c : whole) units = units * 10 + (c - '0');
    for (std::size_t k = 0; k < 4; ++k) units = units * 10 + (k < frac.size() ? frac[k] - '0' : 0);
    return db::TCurrency::FromUnits(negative ? -units : units);
}

// "HH:MM:SS" as a fraction of a day.
double ParseTime(std::string_view text) {
    auto two = [&](std::size_t at) {
        if (!std::isdigit(static_cast<unsigned char>(text[at])) ||
            !std::isdigit(static_cast<unsigned char>(text[at + 1])))
            Refuse(text, "is not a time (HH:MM:SS)");
        return (text[at] - '0') * 10 + (text[at + 1] - '0');
    };
    if (text.size() != 8 || text[2] != ':' || text[5] != ':')
        Refuse(text, "is not a time (HH:MM:SS)");
    int h = two(0), m = two(3), s = two(6);
    if (h > 23 || m > 59 || s > 59) Refuse(text, "is not a time (HH:MM:SS)");
    return (h * 3600 + m * 60 + s) / 86400.0;
}

db::TDateTime ParseDate(std::string_view text) {
    try {
        return db::ParseIsoDate(text);
    } catch (const std::exception&) {
        Refuse(text, "is not a valid date (YYYY-MM-DD)");
    }
}

db::TBlob ParseHex(std::string_view text) {
    auto nibble = [&](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        Refuse(text, "is not hexadecimal binary data");
    };
    if (text.size() % 2) Refuse(text, "is not hexadecimal binary data");
    db::TBlob blob;
    for (std::size_t k = 0; k < text.size(); k += 2)
        blob.push_back(static_cast<std::uint8_t>(nibble(text[k]) * 16 + nibble(text[k + 1])));
    return blob;
}

bool ParseLogical(std::string_view text) {
    std::string t;
    for (char c : text) t += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (t == "T" || t == "TRUE" || t == "1") return true;
    if (t == "F" || t == "FALSE" || t == "0") return false;
    Refuse(text, "is not a logical value (T or F)");
}

// A number as the layer shows it, but never with an exponent: very small and very large values
// are written out in full, so that every CSV reader takes them as plain numbers.
std::string NumberText(double value) {
    std::string s = db::FormatFloat(value);
    if (s.find_first_of("eE") == std::string::npos) return s;
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    return ec == std::errc() ? std::string(buf, end) : s;
}

std::string StoredText(const db::TDbValue& v) {
    if (v.IsNull()) return {};
    if (v.IsInteger()) return std::to_string(v.Integer());
    if (v.IsFloat()) return NumberText(v.Float());
    if (v.IsText()) return v.Text();
    return Hex(v.Blob());
}

// Whether a stored number is a value of the field's type; one that is not is written as stored.
bool HoldsInteger(const db::TDbValue& v) {
    if (v.IsInteger())
        return v.Integer() >= std::numeric_limits<std::int32_t>::min() &&
               v.Integer() <= std::numeric_limits<std::int32_t>::max();
    if (v.IsFloat()) return std::isfinite(v.Float()) && std::fabs(v.Float()) < 2147483647.5;
    return true;  // text: converted (or refused) by the field
}

bool HoldsMoney(const db::TDbValue& v) {
    if (v.IsInteger()) return db::TCurrency::Fits(static_cast<double>(v.Integer()));
    if (v.IsFloat()) return db::TCurrency::Fits(v.Float());
    return true;
}

// Dates are stored as text; a number in a date field is taken as a day count while it is one of
// the calendar's (years 1 to 9999).
bool HoldsDate(const db::TDbValue& v) {
    if (!v.IsInteger() && !v.IsFloat()) return true;
    const double day = v.IsInteger() ? static_cast<double>(v.Integer()) : v.Float();
    return std::isfinite(day) && day >= -693594 && day < 2958466;
}

}  // namespace

std::string FieldText(const db::TField& field) {
    if (field.IsNull()) return {};
    const db::TDbValue v = field.AsVariant();
    switch (field.DataType()) {
        case TFieldType::ftString:
        case TFieldType::ftMemo: return field.AsString();
        case TFieldType::ftSmallint:
        case TFieldType::ftInteger:
        case TFieldType::ftAutoInc:
            return HoldsInteger(v) ? std::to_string(field.AsInteger()) : StoredText(v);
        case TFieldType::ftFloat: return NumberText(field.AsFloat());
        case TFieldType::ftCurrency:
            return HoldsMoney(v) ? field.AsCurrency().ToString() : StoredText(v);
        case TFieldType::ftDate:
            return HoldsDate(v) ? db::FormatIsoDate(field.AsDateTime()) : StoredText(v);
        case TFieldType::ftDateTime:
            return HoldsDate(v) ? db::FormatIsoDateTime(field.AsDateTime()) : StoredText(v);
        case TFieldType::ftTime:
            return HoldsDate(v) ? TimeOfDay(field.AsDateTime()) : StoredText(v);
        case TFieldType::ftBoolean: return field.AsBoolean() ? "T" : "F";
        case TFieldType::ftGraphic:
        case TFieldType::ftBlob:
        case TFieldType::ftUnknown: break;
    }
    return StoredText(field.AsVariant());
}

void AssignFieldText(const db::TFieldDef& def, std::string_view text, db::TField* field) {
    if (text.empty()) {
        if (field) field->Clear();
        return;
    }
    switch (def.Type) {
        case TFieldType::ftString:
            if (def.Size > 0 && text.size() > static_cast<std::size_t>(def.Size))
                Refuse(text,
                       "is longer than the field's " + std::to_string(def.Size) + " characters");
            if (field) field->SetAsString(text);
            return;
        case TFieldType::ftMemo:
            if (field) field->SetAsString(text);
            return;
        case TFieldType::ftSmallint: {
            auto v = ParseWhole(text, std::numeric_limits<std::int16_t>::min(),
                                std::numeric_limits<std::int16_t>::max());
            if (field) field->SetAsInteger(static_cast<std::int32_t>(v));
            return;
        }
        case TFieldType::ftInteger:
        case TFieldType::ftAutoInc: {
            auto v = ParseWhole(text, std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max());
            if (field) field->SetAsInteger(static_cast<std::int32_t>(v));
            return;
        }
        case TFieldType::ftFloat: {
            double v = ParseNumber(text);
            if (field) field->SetAsFloat(v);
            return;
        }
        case TFieldType::ftCurrency: {
            auto v = ParseMoney(text);
            if (field) field->SetAsCurrency(v);
            return;
        }
        case TFieldType::ftDate: {
            auto v = ParseDate(text);
            if (field) field->SetAsDateTime(v);
            return;
        }
        case TFieldType::ftDateTime: {
            if (text.size() != 19 || text[10] != ' ')
                Refuse(text, "is not a time stamp (YYYY-MM-DD HH:MM:SS)");
            auto v = ParseDate(text.substr(0, 10)) + ParseTime(text.substr(11));
            if (field) field->SetAsDateTime(v);
            return;
        }
        case TFieldType::ftTime: {
            auto v = ParseTime(text);
            if (field) field->SetAsDateTime(v);
            return;
        }
        case TFieldType::ftBoolean: {
            bool v = ParseLogical(text);
            if (field) field->SetAsBoolean(v);
            return;
        }
        case TFieldType::ftGraphic:
        case TFieldType::ftBlob: {
            auto v = ParseHex(text);
            if (field) field->SetAsVariant(db::TDbValue(std::move(v)));
            return;
        }
        case TFieldType::ftUnknown: break;
    }
    throw std::runtime_error("the field's type cannot be imported");
}

}  // namespace peltorn::cli
