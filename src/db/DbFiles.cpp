#include "db/DbFiles.h"

#include "db/DbConnection.h"
#include "db/DbInternal.h"
#include "db/Sqlite.h"

#include <fcntl.h>
#include <unistd.h>
#include <filesystem>

namespace peltorn::db {

namespace fs = std::filesystem;

namespace {

// The byte of a WAL database's shared-memory file on which every connection to the database, of
// any program, keeps a read lock for as long as it is open (the storage engine's "dead man
// switch": UNIX_SHM_BASE 120 plus the 8 lock bytes).
constexpr off_t kShmDmsByte = 128;

// True when a connection of another process has the database file open. Only for a file no
// handle of this process has open: closing the probe's descriptor drops this process's own locks
// on the shared-memory file.
bool OpenInAnotherProcess(const std::string& file) {
    const std::string shm = file + "-shm";
    const int fd = ::open(shm.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kShmDmsByte;
    fl.l_len = 1;
    const bool held = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

}  // namespace

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
        if (detail::FileUse::IsEngineOpen(file)) {
            refusal = file + " is still open in this program";
            return nullptr;
        }
        // A program that reads the file through the storage engine without the layer's locks
        // (the stock shell, a program of the installation) is seen by the engine's own lock.
        if (OpenInAnotherProcess(file)) {
            refusal = file + " is open in another program";
            return nullptr;
        }
        hold->m_locks.push_back(std::move(lock));
    }
    return hold;
}

TDatabaseExclusiveHold::~TDatabaseExclusiveHold() = default;

}  // namespace peltorn::db
