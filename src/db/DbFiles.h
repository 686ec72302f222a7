// The files of one database on disk, for whatever copies, snapshots or restores a database as a
// whole.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace peltorn::db {

namespace detail {
class TableLock;
}

// An encrypted data dictionary X.ADD keeps the wrapped keys that open it in the file X.ADD.keys
// beside it: a copy of the dictionary without that file cannot be opened by anybody.
inline constexpr const char* kDictionaryKeysSuffix = ".keys";

// True while a handle or an attachment of the layer, in this process, has the database file at
// path open. Such a file must be neither copied (its last commits may sit in the storage engine's
// journal) nor written or replaced by anybody but the engine.
bool IsOpenByEngine(const std::string& path);

// Every table of a database held against every dataset, of this process or of another, for as
// long as the object lives: a folder of free tables (each of its table files) or a data
// dictionary. While it lasts, opening a table of the database fails as "in exclusive use by
// another user", so the files can be copied or written back as a whole. It does not hold the
// database against other merge runs (TDatabaseRunLock does that).
class TDatabaseExclusiveHold {
public:
    // Null when a table of the database is open somewhere, a file of it is open in this program
    // or, through the storage engine, in another one, or a table file cannot be written; refusal
    // then says which file and why.
    static std::unique_ptr<TDatabaseExclusiveHold> TryAcquire(const std::string& connectPath,
                                                              std::string& refusal);
    ~TDatabaseExclusiveHold();
    TDatabaseExclusiveHold(const TDatabaseExclusiveHold&) = delete;
    TDatabaseExclusiveHold& operator=(const TDatabaseExclusiveHold&) = delete;

private:
    TDatabaseExclusiveHold() = default;
    std::vector<std::unique_ptr<detail::TableLock>> m_locks;
};

}  // namespace peltorn::db
