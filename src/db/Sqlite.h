// The SQLite/SQLCipher underside of the database layer: RAII handles and statements, the key
// derivation of table passwords, the plain-file test, the advisory table locks that make
// Exclusive opens and packing safe, and the grouped commits. Nothing above src/db includes this
// file.
#pragma once

#include "db/DbErrors.h"
#include "db/DbTypes.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace peltorn::db::detail {

class Handle;
class FileUse;

// The operator's text for a failure of the storage engine: what is wrong, told apart by the
// engine's result code and the system's error number ("disk full", "read-only", "in use by
// another user", "not a database file or damaged", ...).
std::string DescribeFailure(int rc, int systemErrno, const char* engineText);
TDbErrorCode CodeForFailure(int rc, int systemErrno);

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
    // Changes with every ClearCache and differs between handles, also between a closed handle
    // and a new one made at its address: a statement of this handle kept elsewhere is valid
    // while the generation stays the same.
    std::uint64_t CacheGeneration() const { return m_cacheGeneration; }
    // Sets the raw key of an encrypted file (before its first use).
    void Key(const std::string& rawKey);
    int Changes() const;

    [[noreturn]] void Fail(int rc, const std::string& context) const;

private:
    sqlite3* m_db = nullptr;
    std::string m_path;
    std::string m_what;
    std::unordered_map<std::string, std::unique_ptr<Stmt>> m_cache;
    std::uint64_t m_cacheGeneration;
    std::unique_ptr<FileUse> m_use;
};

// The raw SQLCipher key for a table password: "x'<64 hex digits>'". Derived once per process
// and password, so that opening many encrypted files stays cheap.
const std::string& RawKeyFor(const std::string& password);

// True when the file begins with the plain SQLite header (or is empty / missing). The header is
// read through the layer's own descriptors of the file (see FileUse), never by opening and
// closing one of its own.
bool IsPlainDatabaseFile(const std::string& path);

// True when the file could be an encrypted table: not plain, and whole pages of the encrypted
// format. A file that refuses the table password and is not even that (a truncated copy, random
// bytes) is reported as damaged, not as a wrong password.
bool LooksEncrypted(const std::string& path);

// The layer's use of one database file (a handle on it, an attachment, a lock), counted per file
// (device and inode) for the whole process.
//
// On Linux, closing any descriptor of a file drops every POSIX lock the process holds on that
// file, SQLite's own among them; SQLite's shared lock on a WAL database is what stops another
// process from taking the file as unused and deleting its live WAL and shared-memory files. So
// the descriptors the layer opens for its own locks and reads are never closed while the layer
// still uses the file: a lock gives its descriptor back to the file's pool when it ends, and the
// pool is closed only when the last handle, attachment and lock of the file are gone.
class FileUse {
public:
    // Counts a use of the file at path. A path that names no file (":memory:", a missing file)
    // counts nothing. engine: the use is the storage engine's own (a handle or an attachment has
    // the file open), which decides IsEngineOpen.
    explicit FileUse(const std::string& path, bool engine = false);
    ~FileUse();
    FileUse(const FileUse&) = delete;
    FileUse& operator=(const FileUse&) = delete;
    bool Counted() const { return m_counted; }
    // A descriptor of the file from its pool (opened when the pool has none idle); writable asks
    // for one opened for writing (false when the file cannot be opened so). Given back with
    // GiveBack; only ever closed when the file's last use ends.
    int TakeDescriptor(bool writable, bool& isWritable);
    void GiveBack(int fd, bool isWritable);
    // True while a handle or an attachment of this process has the file at path open.
    static bool IsEngineOpen(const std::string& path);

private:
    std::string m_path;
    unsigned long long m_dev = 0;
    unsigned long long m_ino = 0;
    bool m_counted = false;
    bool m_engine = false;
};

// Quotes an identifier for SQL: "NAME".
std::string QuoteIdent(const std::string& name);

// Advisory lock of one table of a database file, held while a dataset has the table open:
// shared for ordinary use, exclusive for Exclusive opens, packing and encrypting. Locks conflict
// between processes and between datasets of the same process alike.
class TableLock {
public:
    // Raises EDbDatabaseError (TableInUse) when another dataset holds the table against the lock
    // wanted, and a "read-only" error when exclusive use is wanted of a file that cannot be
    // written.
    TableLock(const std::string& file, const std::string& table, bool exclusive,
              const std::string& what);
    // The lock of a whole database against other merge runs: a byte of its own, which no table
    // lock uses. Never waits; throws nothing.
    static std::unique_ptr<TableLock> TryDatabase(const std::string& file);
    // Every table of the file at once: the bytes of all table locks, exclusively. Null when a
    // dataset anywhere has a table of the file open; readOnly tells a file that cannot be written
    // (whose tables cannot be held so) from one in use. Never waits.
    static std::unique_ptr<TableLock> TryAllTables(const std::string& file, bool& readOnly);
    ~TableLock();
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
    // Tries to become exclusive (true on success) or back to shared.
    bool TryExclusive();
    void Share();
    bool IsExclusive() const { return m_exclusive; }

private:
    enum class TTake { Locked, NoFile, ReadOnly, Held };
    TableLock() = default;
    // Takes a descriptor of the file and the lock of the byte at offset; on anything but Locked
    // the descriptor is given back and the lock holds nothing.
    TTake Take(const std::string& file, long long offset, bool exclusive);
    bool Set(short type);
    std::unique_ptr<FileUse> m_use;
    int m_fd = -1;
    bool m_writable = false;
    long long m_offset = 0;
    long long m_length = 1;
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
//
// A commit that fails (disk full, a file-size limit, a read-only file) is never passed over: the
// group is rolled back and an EDbDatabaseError names the table and database whose posted records
// were not written. Where no error can be raised at that moment (an error being made already, a
// handle being destroyed), the failure is added to the error's text, or kept and raised by the
// next FlushPendingWrites, so that no run reports success over records that were not written.
//
// While a write batch is held (TWriteBatch, db/DbConnection.h) the groups opened meanwhile are
// held as well: none of the occasions above commits them, only CommitHeld does; RollbackHeld
// and closing the handle take them back.
namespace WriteGroups {
// Called before a write on handle for file: opens the group when none is open. what names the
// table written ("table X (database P)"), for the text of a failed commit.
void BeforeWrite(Handle& handle, const std::string& file, const std::string& what);
// Called after a successful write: commits when the group is large or old enough.
void AfterWrite(Handle& handle);
// Commits the group of file unless it belongs to except.
void CommitFile(const std::string& file, const Handle* except = nullptr);
// Commits the group of handle, if any.
void CommitHandle(Handle& handle);
// Commits every open group; raises the first failure after trying them all, and a failure kept
// from earlier (see above).
void CommitAll();
// Commits every open group without raising; returns the texts of the failures (empty when all
// were written), which the caller must pass on (an error being made adds them to its text).
std::string CommitAllQuietly() noexcept;
// The handle closes (destructors): its group is committed, or taken back when held; a failure
// is kept for the next CommitAll.
void CommitHandleQuietly(Handle& handle) noexcept;
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
