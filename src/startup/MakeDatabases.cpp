// Creating the main database and company databases from the schema catalogue.
//
// Both routines check first that nothing they would create exists, so that a refused request
// leaves the disk as it was; only then do they create the tables one by one.
#include "startup/MakeDatabases.h"

#include "db/Db.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "signon/PasswordUTIL.h"
#include "startup/Catalogue.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace peltorn {

namespace {

constexpr const char* kVersionTable = "PAYPARA";
constexpr const char* kVersionField = "DBVERSION";

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// Raises when the connected database already holds one of the tables.
void RequireAbsent(db::TDbConnection& conn, const std::vector<db::TTableDef>& tables) {
    auto existing = db::ListTables(conn);
    for (auto& name : existing) name = Upper(name);
    for (const auto& def : tables) {
        if (std::find(existing.begin(), existing.end(), Upper(def.Name)) != existing.end()) {
            throw db::EDbDatabaseError(db::TDbErrorCode::General,
                                       "Table " + def.Name + " exists already in " +
                                           conn.ConnectPath() + "; nothing was created");
        }
    }
}

void ConnectFolder(db::TDbConnection& conn, const std::string& dir) {
    std::error_code ec;
    fs::create_directories(db::NormalizePath(dir), ec);
    if (ec) {
        throw db::EDbDatabaseError(db::TDbErrorCode::FileError,
                                   "Cannot create the folder " + dir + ": " + ec.message());
    }
    conn.SetConnectPath(dir);
    conn.Connect();
}

void CreateAll(db::TDbConnection& conn, const std::vector<db::TTableDef>& tables) {
    for (const auto& def : tables) db::CreateTable(conn, def);
}

}  // namespace

void CreateMainDatabase(const std::string& dir) {
    db::TDbConnection conn("main");
    ConnectFolder(conn, dir);
    RequireAbsent(conn, MainTables());
    CreateAll(conn, MainTables());
    conn.Disconnect();
}

void CreateCompanyDatabase(const std::string& path, const std::string& versionMark) {
    db::TDbConnection conn("company");
    conn.SetConnectPath(path);
    if (conn.IsDictionaryConn()) {
        std::error_code ec;
        if (fs::exists(db::NormalizePath(path), ec)) {
            throw db::EDbDatabaseError(db::TDbErrorCode::General,
                                       "Data dictionary " + path +
                                           " exists already; nothing was created");
        }
        std::string adminPassword = signon::AdminPasswordForMark(versionMark);
        db::CreateDictionary(path, {{signon::kAdminUser, adminPassword},
                                    {signon::kMaintenanceUser, signon::MaintenancePassword()}});
        conn.Username = signon::kAdminUser;
        conn.Password = adminPassword;
        conn.Connect();
    } else {
        ConnectFolder(conn, path);
        RequireAbsent(conn, CompanyTables());
    }
    CreateAll(conn, CompanyTables());

    db::TDbTable para("PAYPARA");
    para.SetConnection(&conn);
    para.SetTableName(kVersionTable);
    para.Open();
    para.Append();
    para.FieldByName(kVersionField).SetAsString(versionMark);
    para.Post();
    para.Close();
    conn.Disconnect();
}

}  // namespace peltorn
