#include "db/DbFiles.h"

#include "db/DbConnection.h"
#include "db/DbInternal.h"
#include "db/Sqlite.h"

#include <filesystem>

namespace peltorn::db {

namespace fs = std::filesystem;

bool IsOpenByEngine(const std::string& path) {
    return detail::FileUse::IsEngineOpen(NormalizePath(path));
}

std::unique_ptr<TDatabaseExclusiveHold> TDatabaseExclusiveHold::TryAcquire(
    const std::string& connectPath, std::string& refusal) {
    const std::string path = NormalizePath(connectPath);
    std::vector<std::string> files;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        files.push_back(path);
    } else {
        for (const auto& entry : fs::directory_iterator(path, ec)) {
            if (entry.is_regular_file(ec) &&
                detail::Upper(entry.path().extension().string()) == ".ADT")
                files.push_back(entry.path().string());
        }
        if (ec) {
            refusal = "the database " + connectPath + " cannot be read: " + ec.message();
            return nullptr;
        }
    }
    std::unique_ptr<TDatabaseExclusiveHold> hold(new TDatabaseExclusiveHold());
    for (const auto& file : files) {
        bool readOnly = false;
        auto lock = detail::TableLock::TryAllTables(file, readOnly);
        if (!lock) {
            refusal = readOnly ? "the file " + file + " cannot be written (read-only)"
                               : "a table of " + file + " is in use by another user";
            return nullptr;
        }
        hold->m_locks.push_back(std::move(lock));
    }
    return hold;
}

TDatabaseExclusiveHold::~TDatabaseExclusiveHold() = default;

}  // namespace peltorn::db
