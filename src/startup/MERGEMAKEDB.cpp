// The set-up table routine: creates the merge set-up tables that a main database lacks.
#include "startup/MERGEMAKEDB.h"

#include "db/Db.h"
#include "schema/Catalogue.h"
#include "startup/StartUp.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace peltorn {

namespace {
constexpr const char* kSetupTables[] = {"MERGRHD", "MERGEDTL"};
constexpr const char* kCompanyMasterFile = "MCOMPANY.ADT";

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

// A main database is a folder holding the company master as a file of its own, in any letter
// case.
bool HoldsCompanyMaster(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(db::NormalizePath(folder), ec)) {
        if (SameName(entry.path().filename().string(), kCompanyMasterFile) &&
            entry.is_regular_file(ec)) {
            return true;
        }
    }
    return false;
}
}  // namespace

void MakeMergeTables(const std::string& folder) {
    // Only a main database gets its set-up tables: made in any other folder (a mistyped base
    // folder, the folder of a device named as settings file) they would make it look like one.
    if (IsSystemFolder(folder) || !HoldsCompanyMaster(folder)) {
        throw db::EDbDatabaseError(db::TDbErrorCode::TableNotFound,
                                   std::string(kNoCompanyMaster) + folder);
    }
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
