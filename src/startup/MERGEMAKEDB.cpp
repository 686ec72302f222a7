// The set-up table routine: creates the merge set-up tables that a main database lacks.
#include "startup/MERGEMAKEDB.h"

#include "db/Db.h"
#include "schema/Catalogue.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace peltorn {

namespace {
constexpr const char* kSetupTables[] = {"MERGRHD", "MERGEDTL"};

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}
}  // namespace

void MakeMergeTables(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(db::NormalizePath(folder), ec);
    db::TDbConnection conn("setup");
    conn.SetConnectPath(folder);
    conn.Connect();
    auto existing = db::ListTables(conn);
    for (const char* name : kSetupTables) {
        bool present = std::any_of(existing.begin(), existing.end(),
                                   [&](const std::string& e) { return SameName(e, name); });
        if (!present) db::CreateTable(conn, *schema::FindCatalogueTable(name));
    }
    conn.Disconnect();
}

}  // namespace peltorn
