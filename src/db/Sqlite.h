// The SQLite/SQLCipher underside of the database layer: RAII handles and statements, the key
// derivation of table passwords, the plain-file test and the advisory table locks that make
// Exclusive opens and packing safe. Nothing above src/db includes this file.
#pragma once

#include "db/DbErrors.h"
#include "db/DbTypes.h"

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace peltorn::db::detail {

class Handle;

// One prepared statement of a handle. Bind, step, read columns; Reset returns it to the cache.
class Stmt {
public:
    Stmt(Handle& handle, sqlite3_stmt* stmt) : m_handle(&handle), m_stmt(stmt) {}
    void Bind(int index, const TDbValue& value);  // 1-based
    void BindAll(const std::vector<TDbValue>& values);
    bool Step();  // true while a row is available; raises EDbDatabaseError on failure
    void Reset();
    int ColumnCount() const;
    TDbValue Column(int index) const;  // 0-based
    const char* ColumnName(int index) const;
    const char* ColumnDeclType(int index) const;
    sqlite3_stmt* Raw() const { return m_stmt; }

private:
    Handle* m_handle;
    sqlite3_stmt* m_stmt;
};

// A statement that is reset when the scope ends, so that no read stays open by accident (an
// open read would hold back the commit of later writes on the same handle).
class ScopedStmt {
public:
    explicit ScopedStmt(Stmt& stmt) : m_stmt(stmt) {}
    ~ScopedStmt() { m_stmt.Reset(); }
    Stmt* operator->() { return &m_stmt; }
    Stmt& operator*() { return m_stmt; }

private:
    Stmt& m_stmt;
};

class Handle {
public:
    // Opens (or creates, when create) the database file; raises EDbDatabaseError naming what.
    Handle(const std::string& path, bool create, const std::string& what);
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    sqlite3* Db() const { return m_db; }
    const std::string& Path() const { return m_path; }
    const std::string& What() const { return m_what; }

    // Cached prepared statement of the text.
    Stmt& Prepare(const std::string& sql);
    // An uncached statement (for statements run once); finalized with the returned object.
    std::unique_ptr<Stmt, void (*)(Stmt*)> PrepareOnce(const std::string& sql);
    // Runs statements without results; raises on failure.
    void Exec(const std::string& sql);
    // Drops every cached statement (after schema changes of attachments).
    void ClearCache();
    // Sets the raw key of an encrypted file (before its first use).
    void Key(const std::string& rawKey);
    int Changes() const;

    [[noreturn]] void Fail(int rc, const std::string& context) const;

private:
    sqlite3* m_db = nullptr;
    std::string m_path;
    std::string m_what;
    std::unordered_map<std::string, std::unique_ptr<Stmt>> m_cache;
};

// The raw SQLCipher key for a table password: "x'<64 hex digits>'". Derived once per process
// and password, so that opening many encrypted files stays cheap.
const std::string& RawKeyFor(const std::string& password);

// True when the file begins with the plain SQLite header (or is empty / missing).
bool IsPlainDatabaseFile(const std::string& path);

// Quotes an identifier for SQL: "NAME".
std::string QuoteIdent(const std::string& name);

// Advisory lock of one table of a database file, held while a dataset has the table open:
// shared for ordinary use, exclusive for Exclusive opens, packing and encrypting. Locks conflict
// between processes and between datasets of the same process alike.
class TableLock {
public:
    TableLock(const std::string& file, const std::string& table, bool exclusive,
              const std::string& what);
    ~TableLock();
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
    // Tries to become exclusive (true on success) or back to shared.
    bool TryExclusive();
    void Share();
    bool IsExclusive() const { return m_exclusive; }

private:
    bool Set(short type);
    int m_fd = -1;
    long long m_offset = 0;
    bool m_exclusive = false;
};

// Grouped commits. Posting opens a transaction on the writing handle and leaves it open, so that
// a run of posts into one table costs one commit instead of one each. The promise that a posted
// record stays written holds because the group is committed
//   - before any layer error is raised (every EDbError commits all groups when it is made),
//   - before any other handle reads or writes the same file, and before any statement names it,
//   - when the table is closed, its connection disconnected or its handle closed,
//   - after 2,000 posts or a quarter of a second, whichever comes first,
//   - and by FlushPendingWrites (db/DbConnection.h), which the run calls at its end.
// While a write batch is held (TWriteBatch, db/DbConnection.h) the groups opened meanwhile are
// held as well: none of the occasions above commits them, only CommitHeld does; RollbackHeld
// and closing the handle take them back.
namespace WriteGroups {
// Called before a write on handle for file: opens the group when none is open.
void BeforeWrite(Handle& handle, const std::string& file);
// Called after a successful write: commits when the group is large or old enough.
void AfterWrite(Handle& handle);
// Commits the group of file unless it belongs to except.
void CommitFile(const std::string& file, const Handle* except = nullptr);
// Commits the group of handle, if any.
void CommitHandle(Handle& handle);
// Commits every open group that is not held; never throws.
void CommitAll() noexcept;
// The handle closes: its group is committed, or taken back when held.
void CloseHandle(Handle& handle) noexcept;
// Starts holding (after committing every open group). Raises std::logic_error when holding.
void BeginHold();
// Commits every held group and stops holding; raises EDbDatabaseError when a commit fails (the
// held groups not yet committed are then taken back).
void CommitHeld();
// Takes back every held group and stops holding; never throws.
void RollbackHeld() noexcept;
}  // namespace WriteGroups

// Process-wide registry of the holders of cached attachments, so that a file that is about to be
// rewritten (encrypt) can be released everywhere first.
class AttachmentRegistry {
public:
    using Releaser = void (*)(void* owner, const std::string& path);
    static void Register(void* owner, Releaser releaser);
    static void Unregister(void* owner);
    static void ReleaseEverywhere(const std::string& path);
};

}  // namespace peltorn::db::detail
