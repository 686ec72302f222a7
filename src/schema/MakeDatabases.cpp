// Creating the main database and company databases from the schema catalogue.
//
// Both routines check first that nothing they would create exists, so that a refused request
// leaves the disk as it was; only then do they create the tables one by one. Should a later step
// fail (a disk that fills up, a file the system will not let us write), what was made so far is
// removed again, so that a second attempt does not meet half a database.
#include "schema/MakeDatabases.h"

#include "db/Db.h"
#include "db/DbFiles.h"
#include "schema/Catalogue.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "signon/PasswordUTIL.h"
#include "support/PrivateFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace peltorn::schema {

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

// Removes a database file with the journal files the engine keeps beside it.
void RemoveDatabaseFile(const fs::path& file) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal", db::kDictionaryKeysSuffix}) {
        fs::path p(file.string() + suffix);
        if (fs::is_regular_file(p, ec)) fs::remove(p, ec);
    }
}

// What one creation has made on disk, taken back when the creation fails part-way.
class TCreatedFiles {
public:
    // Creates dir and its missing parents, remembering the folders that were new; with ownerOnly
    // the new folders get mode 0700.
    void MakeFolder(const std::string& dir, bool ownerOnly = false) {
        fs::path p = db::NormalizePath(dir);
        std::vector<fs::path> missing;
        std::error_code ec;
        for (fs::path q = p; !q.empty() && !fs::exists(q, ec); q = q.parent_path()) {
            missing.push_back(q);
            if (q == q.parent_path()) break;
        }
        // Remembered first, so that folders made before a failure are taken back as well.
        m_folders.insert(m_folders.end(), missing.begin(), missing.end());  // deepest first
        if (ownerOnly) {
            try {
                support::CreatePrivateFolders(p.string());
            } catch (const std::runtime_error& e) {
                throw db::EDbDatabaseError(db::TDbErrorCode::FileError, e.what());
            }
        } else {
            fs::create_directories(p, ec);
        }
        if (ec) {
            throw db::EDbDatabaseError(db::TDbErrorCode::FileError,
                                       "Cannot create the folder " + dir + ": " + ec.message());
        }
    }
    void AddFile(fs::path file) { m_files.push_back(std::move(file)); }
    void Keep() { m_files.clear(), m_folders.clear(); }
    // Removes the files, then the new folders when they are empty again. Never raises.
    void Remove() noexcept {
        for (const auto& f : m_files) RemoveDatabaseFile(f);
        std::error_code ec;
        for (const auto& d : m_folders)
            if (fs::is_empty(d, ec)) fs::remove(d, ec);
        Keep();
    }

private:
    std::vector<fs::path> m_files;
    std::vector<fs::path> m_folders;
};

void ConnectFolder(db::TDbConnection& conn, const std::string& dir, TCreatedFiles& created) {
    created.MakeFolder(dir);
    conn.SetConnectPath(dir);
    conn.Connect();
}

// Creates the tables; in a folder each new table file is remembered for the rollback.
void CreateAll(db::TDbConnection& conn, const std::vector<db::TTableDef>& tables,
               TCreatedFiles& created) {
    for (const auto& def : tables) {
        if (!conn.IsDictionaryConn()) {
            // Only a file that is not there yet is ours to take back.
            fs::path file =
                fs::path(db::NormalizePath(conn.ConnectPath())) / (Upper(def.Name) + ".ADT");
            std::error_code ec;
            if (!fs::exists(file, ec)) created.AddFile(file);
        }
        db::CreateTable(conn, def);
    }
}

// Runs body; on failure disconnects, removes what was created and raises the failure again.
template <class Body>
void CreateOrRollBack(db::TDbConnection& conn, TCreatedFiles& created, Body body) {
    try {
        body();
        conn.Disconnect();
        created.Keep();
    } catch (...) {
        try {
            conn.Disconnect();
        } catch (...) {
            // The failure being raised is the one the caller must see.
        }
        created.Remove();
        throw;
    }
}

}  // namespace

void CreateMainDatabase(const std::string& dir) {
    db::TDbConnection conn("main");
    TCreatedFiles created;
    CreateOrRollBack(conn, created, [&] {
        ConnectFolder(conn, dir, created);
        RequireAbsent(conn, MainTables());
        CreateAll(conn, MainTables(), created);
    });
}

void CreateCompanyDatabase(const std::string& path, const std::string& versionMark) {
    db::TDbConnection conn("company");
    conn.SetConnectPath(path);
    TCreatedFiles created;
    CreateOrRollBack(conn, created, [&] {
        if (conn.IsDictionaryConn()) {
            fs::path file = db::NormalizePath(path);
            std::error_code ec;
            if (fs::exists(file, ec)) {
                throw db::EDbDatabaseError(
                    db::TDbErrorCode::General,
                    "Data dictionary " + path + " exists already; nothing was created");
            }
            if (file.has_parent_path()) created.MakeFolder(file.parent_path().string(), true);
            std::string adminPassword = signon::AdminPasswordForMark(versionMark);
            created.AddFile(file);
            db::CreateDictionary(path,
                                 {{signon::kAdminUser, adminPassword},
                                  {signon::kMaintenanceUser, signon::MaintenancePassword()}},
                                 db::TDictionaryStorage::Encrypted);
            conn.Username = signon::kAdminUser;
            conn.Password = adminPassword;
            conn.Connect();
        } else {
            ConnectFolder(conn, path, created);
            RequireAbsent(conn, CompanyTables());
        }
        CreateAll(conn, CompanyTables(), created);

        db::TDbTable para("PAYPARA");
        para.SetConnection(&conn);
        para.SetTableName(kVersionTable);
        para.Open();
        para.Append();
        para.FieldByName(kVersionField).SetAsString(versionMark);
        para.Post();
        para.Close();
    });
}

}  // namespace peltorn::schema
