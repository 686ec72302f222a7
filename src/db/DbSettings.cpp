// Engine-wide settings and the text form of dates they govern.
#include "db/DbSettings.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>

namespace peltorn::db {

namespace {
TDbSettings& InForce() {
    static TDbSettings settings;
    return settings;
}
}  // namespace

void TDbSettings::Apply() const { InForce() = *this; }
const TDbSettings& TDbSettings::Current() { return InForce(); }

std::string FormatDate(TDateTime value) {
    int y, m, d;
    DecodeDate(value, y, m, d);
    const std::string& format = TDbSettings::Current().DateFormat;
    std::string out;
    char buf[8];
    for (std::size_t i = 0; i < format.size();) {
        if (format.compare(i, 4, "yyyy") == 0) {
            std::snprintf(buf, sizeof buf, "%04d", y);
            out += buf;
            i += 4;
        } else if (format.compare(i, 2, "MM") == 0) {
            std::snprintf(buf, sizeof buf, "%02d", m);
            out += buf;
            i += 2;
        } else if (format.compare(i, 2, "dd") == 0) {
            std::snprintf(buf, sizeof buf, "%02d", d);
            out += buf;
            i += 2;
        } else {
            out += format[i++];
        }
    }
    return out;
}

TDateTime ParseDate(std::string_view text) {
    if (text.empty()) return 0;
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') return ParseIsoDate(text);
    const std::string& format = TDbSettings::Current().DateFormat;
    int y = -1, m = -1, d = -1;
    std::size_t t = 0;
    auto number = [&](std::size_t digits, int& out) {
        if (t + digits > text.size()) throw std::invalid_argument("invalid date");
        auto res = std::from_chars(text.data() + t, text.data() + t + digits, out);
        if (res.ec != std::errc() || res.ptr != text.data() + t + digits) {
            throw std::invalid_argument("invalid date");
        }
        t += digits;
    };
    for (std::size_t i = 0; i < format.size();) {
        if (format.compare(i, 4, "yyyy") == 0) {
            number(4, y);
            i += 4;
        } else if (format.compare(i, 2, "MM") == 0) {
            number(2, m);
            i += 2;
        } else if (format.compare(i, 2, "dd") == 0) {
            number(2, d);
            i += 2;
        } else {
            if (t >= text.size() || text[t] != format[i])
                throw std::invalid_argument("invalid date");
            ++t;
            ++i;
        }
    }
    if (t != text.size()) throw std::invalid_argument("invalid date");
    return EncodeDate(y, m, d);
}

}  // namespace peltorn::db
