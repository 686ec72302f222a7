// TDbSettings: engine-wide settings. The values in force are those of the last Apply (or the
// defaults below when none was applied); they affect every connection of the process.
#pragma once

#include "db/DbConnection.h"

#include <set>
#include <string>

namespace peltorn::db {

class TDbSettings {
public:
    std::string DateFormat = "dd/MM/yyyy";  // text of date fields: dd, MM, yyyy and separators
    int Decimals = 2;
    bool DateAsNative = true;
    bool ShowDeleted = true;
    std::set<TServerType> ServerTypes{TServerType::stREMOTE, TServerType::stLOCAL};
    int NumCachedCursors = 25;
    int NumCachedTables = 0;

    void Apply() const;
    static const TDbSettings& Current();
};

// Text of a date by the date format in force, and back. Parsing accepts the format in force and
// "YYYY-MM-DD"; empty text gives the zero date; anything else raises std::invalid_argument.
std::string FormatDate(TDateTime value);
TDateTime ParseDate(std::string_view text);

}  // namespace peltorn::db
