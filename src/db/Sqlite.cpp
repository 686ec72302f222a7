// SQLite/SQLCipher handles, statements, key derivation, plain-file test and table locks.
#include "db/Sqlite.h"

#include "db/DbConnection.h"

#include <sqlcipher/sqlite3.h>

#include <openssl/evp.h>

#include <chrono>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <unistd.h>

namespace peltorn::db::detail {

namespace {

TDbErrorCode CodeFor(int rc) {
    switch (rc & 0xff) {
        case SQLITE_CONSTRAINT: return TDbErrorCode::KeyViolation;
        case SQLITE_NOTADB: return TDbErrorCode::WrongPassword;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return TDbErrorCode::TableInUse;
        case SQLITE_CANTOPEN: return TDbErrorCode::DatabaseNotFound;
        case SQLITE_IOERR:
        case SQLITE_FULL:
        case SQLITE_READONLY: return TDbErrorCode::FileError;
        default: return TDbErrorCode::SqlError;
    }
}

// The statement heartbeat (see SetStatementHeartbeat). The storage engine calls the handler every
// kHeartbeatOps virtual-machine steps of a running statement; it looks at the clock only then.
constexpr int kHeartbeatOps = 4000;

struct THeartbeat {
    std::function<void()> Fn;
    std::chrono::steady_clock::duration Interval{};
    std::chrono::steady_clock::time_point Last{};
    bool Running = false;  // a heartbeat that runs statements itself is not called again inside
};

THeartbeat& Heartbeat() {
    static THeartbeat heartbeat;
    return heartbeat;
}

int StatementHeartbeat(void*) {
    THeartbeat& h = Heartbeat();
    if (!h.Fn || h.Running) return 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - h.Last < h.Interval) return 0;
    h.Running = true;
    try {
        h.Fn();
    } catch (...) {
        // The statement goes on whatever the windows did.
    }
    h.Running = false;
    h.Last = std::chrono::steady_clock::now();
    return 0;  // never interrupts the statement
}

}  // namespace

// ---- Stmt ----

void Stmt::Bind(int index, const TDbValue& value) {
    int rc = SQLITE_OK;
    const auto& raw = value.Raw();
    if (std::holds_alternative<std::monostate>(raw)) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else if (auto* i = std::get_if<std::int64_t>(&raw)) {
        rc = sqlite3_bind_int64(m_stmt, index, *i);
    } else if (auto* d = std::get_if<double>(&raw)) {
        rc = sqlite3_bind_double(m_stmt, index, *d);
    } else if (auto* s = std::get_if<std::string>(&raw)) {
        rc = sqlite3_bind_text(m_stmt, index, s->data(), static_cast<int>(s->size()),
                               SQLITE_TRANSIENT);
    } else if (auto* b = std::get_if<TBlob>(&raw)) {
        rc = sqlite3_bind_blob(m_stmt, index, b->data(), static_cast<int>(b->size()),
                               SQLITE_TRANSIENT);
    }
    if (rc != SQLITE_OK) m_handle->Fail(rc, "binding a value");
}

void Stmt::BindAll(const std::vector<TDbValue>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) Bind(static_cast<int>(i + 1), values[i]);
}

bool Stmt::Step() {
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(m_stmt);
    m_handle->Fail(rc, "");
}

void Stmt::Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int Stmt::ColumnCount() const { return sqlite3_column_count(m_stmt); }

TDbValue Stmt::Column(int index) const {
    switch (sqlite3_column_type(m_stmt, index)) {
        case SQLITE_INTEGER: return TDbValue(static_cast<std::int64_t>(sqlite3_column_int64(m_stmt, index)));
        case SQLITE_FLOAT: return TDbValue(sqlite3_column_double(m_stmt, index));
        case SQLITE_TEXT: {
            auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, index));
            return TDbValue(std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, index))));
        }
        case SQLITE_BLOB: {
            auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(m_stmt, index));
            int n = sqlite3_column_bytes(m_stmt, index);
            return TDbValue(TBlob(p, p + n));
        }
        default: return TDbValue();
    }
}

const char* Stmt::ColumnName(int index) const { return sqlite3_column_name(m_stmt, index); }
const char* Stmt::ColumnDeclType(int index) const { return sqlite3_column_decltype(m_stmt, index); }

// ---- Handle ----

Handle::Handle(const std::string& path, bool create, const std::string& what)
    : m_path(path), m_what(what) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = m_db ? sqlite3_errmsg(m_db) : "cannot open";
        if (m_db) sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw EDbDatabaseError(TDbErrorCode::DatabaseNotFound,
                               "Cannot open " + what + ": " + msg + " (" + path + ")");
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, 2000);
    sqlite3_progress_handler(m_db, kHeartbeatOps, &StatementHeartbeat, nullptr);
}

Handle::~Handle() {
    WriteGroups::CloseHandle(*this);
    m_cache.clear();
    if (m_db) {
        for (sqlite3_stmt* s = sqlite3_next_stmt(m_db, nullptr); s; s = sqlite3_next_stmt(m_db, nullptr)) {
            sqlite3_finalize(s);
        }
        sqlite3_close_v2(m_db);
    }
}

Stmt& Handle::Prepare(const std::string& sql) {
    auto it = m_cache.find(sql);
    if (it != m_cache.end()) return *it->second;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) Fail(rc, "");
    auto owned = std::make_unique<Stmt>(*this, stmt);
    Stmt& ref = *owned;
    m_cache.emplace(sql, std::move(owned));
    return ref;
}

std::unique_ptr<Stmt, void (*)(Stmt*)> Handle::PrepareOnce(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) Fail(rc, "");
    return {new Stmt(*this, stmt), [](Stmt* s) {
                sqlite3_finalize(s->Raw());
                delete s;
            }};
}

void Handle::Exec(const std::string& sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &err);
    if (err) sqlite3_free(err);
    if (rc != SQLITE_OK) Fail(rc, "");
}

void Handle::ClearCache() {
    for (auto& [sql, stmt] : m_cache) sqlite3_finalize(stmt->Raw());
    m_cache.clear();
}

void Handle::Key(const std::string& rawKey) {
    int rc = sqlite3_key(m_db, rawKey.data(), static_cast<int>(rawKey.size()));
    if (rc != SQLITE_OK) Fail(rc, "setting the table password");
}

int Handle::Changes() const { return sqlite3_changes(m_db); }

void Handle::Fail(int rc, const std::string& context) const {
    std::string msg = sqlite3_errmsg(m_db);
    if ((rc & 0xff) == SQLITE_NOTADB) {
        msg = "the table password is wrong or the file is not a table";
    }
    std::string text = context.empty() ? msg : context + ": " + msg;
    throw EDbDatabaseError(CodeFor(rc), text + " (" + m_what + ")");
}

// ---- keys ----

const std::string& RawKeyFor(const std::string& password) {
    static std::map<std::string, std::string> cache;
    auto it = cache.find(password);
    if (it != cache.end()) return it->second;
    // A fixed salt: the same password must give the same key in every process, and the table
    // files carry SQLCipher's own per-file salt for the page keys.
    static const unsigned char kSalt[] = "peltorn table password v1";
    unsigned char key[32];
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), kSalt,
                      sizeof kSalt - 1, 64000, EVP_sha256(), sizeof key, key);
    static const char* kHex = "0123456789ABCDEF";
    std::string raw = "x'";
    for (unsigned char c : key) {
        raw += kHex[c >> 4];
        raw += kHex[c & 15];
    }
    raw += "'";
    return cache.emplace(password, raw).first->second;
}

bool IsPlainDatabaseFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return true;
    char header[16] = {};
    in.read(header, sizeof header);
    if (in.gcount() == 0) return true;
    return in.gcount() == 16 && std::memcmp(header, "SQLite format 3", 16) == 0;
}

std::string QuoteIdent(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// ---- locks ----

namespace {
// Far above the bytes SQLite locks, one byte per table (by a hash of its name).
constexpr long long kLockBase = 0x4000000000000000LL;
}  // namespace

TableLock::TableLock(const std::string& file, const std::string& table, bool exclusive,
                     const std::string& what) {
    m_fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0) m_fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        throw EDbDatabaseError(TDbErrorCode::FileError, "Cannot open " + what + " (" + file + ")");
    }
    std::uint32_t hash = 2166136261u;
    for (char c : table) {
        hash ^= static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
        hash *= 16777619u;
    }
    m_offset = kLockBase + static_cast<long long>(hash);
    m_exclusive = exclusive;
    if (!Set(exclusive ? F_WRLCK : F_RDLCK)) {
        ::close(m_fd);
        m_fd = -1;
        throw EDbDatabaseError(TDbErrorCode::TableInUse,
                               exclusive ? "Table " + table +
                                               " cannot be opened for exclusive use: it is in use "
                                               "by another user (" + what + ")"
                                         : "Table " + table +
                                               " is in exclusive use by another user (" + what +
                                               ")");
    }
}

TableLock::~TableLock() {
    if (m_fd >= 0) ::close(m_fd);
}

bool TableLock::Set(short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = m_offset;
    fl.l_len = 1;
    return ::fcntl(m_fd, F_OFD_SETLK, &fl) == 0;
}

bool TableLock::TryExclusive() {
    if (m_exclusive) return true;
    if (!Set(F_WRLCK)) return false;
    m_exclusive = true;
    return true;
}

void TableLock::Share() {
    if (!m_exclusive) return;
    Set(F_RDLCK);
    m_exclusive = false;
}

// ---- grouped commits ----

namespace WriteGroups {
namespace {
struct Group {
    Handle* H;
    std::string File;
    int Posts = 0;
    std::chrono::steady_clock::time_point Started;
    bool Held = false;  // opened while a write batch is held: committed only by CommitHeld
};
std::vector<Group>& Groups() {
    static std::vector<Group> groups;
    return groups;
}
bool& Holding() {
    static bool holding = false;
    return holding;
}
constexpr int kMaxPosts = 2000;
constexpr auto kMaxAge = std::chrono::milliseconds(250);

bool Commit(Group& g) noexcept {
    if (sqlite3_get_autocommit(g.H->Db())) return true;
    return sqlite3_exec(g.H->Db(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
}

void Rollback(Group& g) noexcept {
    if (!sqlite3_get_autocommit(g.H->Db()))
        sqlite3_exec(g.H->Db(), "ROLLBACK", nullptr, nullptr, nullptr);
}

// Removes the held groups from the list and returns them.
std::vector<Group> TakeHeld() {
    std::vector<Group> held;
    auto& groups = Groups();
    for (auto it = groups.begin(); it != groups.end();) {
        if (it->Held) {
            held.push_back(*it);
            it = groups.erase(it);
        } else {
            ++it;
        }
    }
    return held;
}
}  // namespace

void BeforeWrite(Handle& handle, const std::string& file) {
    CommitFile(file, &handle);
    for (auto& g : Groups())
        if (g.H == &handle) return;
    if (!sqlite3_get_autocommit(handle.Db())) return;  // a transaction of the caller's own
    handle.Exec("BEGIN");
    Groups().push_back({&handle, file, 0, std::chrono::steady_clock::now(), Holding()});
}

void AfterWrite(Handle& handle) {
    auto& groups = Groups();
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        if (it->H != &handle) continue;
        ++it->Posts;
        if (it->Held) return;
        if (it->Posts >= kMaxPosts || std::chrono::steady_clock::now() - it->Started >= kMaxAge) {
            Group g = *it;
            groups.erase(it);
            if (!Commit(g)) handle.Fail(sqlite3_errcode(handle.Db()), "committing");
        }
        return;
    }
}

void CommitFile(const std::string& file, const Handle* except) {
    auto& groups = Groups();
    for (auto it = groups.begin(); it != groups.end();) {
        if (it->File == file && it->H != except && !it->Held) {
            Group g = *it;
            it = groups.erase(it);
            if (!Commit(g)) g.H->Fail(sqlite3_errcode(g.H->Db()), "committing");
        } else {
            ++it;
        }
    }
}

void CommitHandle(Handle& handle) {
    auto& groups = Groups();
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        if (it->H == &handle) {
            if (it->Held) return;
            Group g = *it;
            groups.erase(it);
            Commit(g);
            return;
        }
    }
}

void CloseHandle(Handle& handle) noexcept {
    auto& groups = Groups();
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        if (it->H == &handle) {
            Group g = *it;
            groups.erase(it);
            if (g.Held) Rollback(g);
            else Commit(g);
            return;
        }
    }
}

void BeginHold() {
    if (Holding()) throw std::logic_error("a write batch is held already");
    CommitAll();
    Holding() = true;
}

void CommitHeld() {
    Holding() = false;
    std::vector<Group> held = TakeHeld();
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (Commit(held[i])) continue;
        // The refused commit is taken back as well, so that no transaction stays open on the
        // handle; the engine's message is kept first.
        const int rc = sqlite3_errcode(held[i].H->Db());
        const std::string message = sqlite3_errmsg(held[i].H->Db());
        for (std::size_t j = i; j < held.size(); ++j) Rollback(held[j]);
        throw EDbDatabaseError(CodeFor(rc),
                               "committing: " + message + " (" + held[i].H->What() + ")");
    }
}

void RollbackHeld() noexcept {
    Holding() = false;
    for (auto& g : TakeHeld()) Rollback(g);
}

void CommitAll() noexcept {
    // Inside a statement's heartbeat (a question the operator is asked while a long statement
    // runs) no connection may be committed under its running statement; the groups are
    // committed at the next occasion instead.
    if (Heartbeat().Running) return;
    auto groups = std::move(Groups());
    Groups().clear();
    for (auto& g : groups) {
        if (g.Held) Groups().push_back(g);
        else Commit(g);
    }
}
}  // namespace WriteGroups

// ---- attachment registry ----

namespace {
std::map<void*, AttachmentRegistry::Releaser>& Holders() {
    static std::map<void*, AttachmentRegistry::Releaser> holders;
    return holders;
}
}  // namespace

void AttachmentRegistry::Register(void* owner, Releaser releaser) { Holders()[owner] = releaser; }
void AttachmentRegistry::Unregister(void* owner) { Holders().erase(owner); }
void AttachmentRegistry::ReleaseEverywhere(const std::string& path) {
    auto copy = Holders();
    for (auto& [owner, releaser] : copy) releaser(owner, path);
}

}  // namespace peltorn::db::detail

namespace peltorn::db {

void SetStatementHeartbeat(std::function<void()> heartbeat, int intervalMs) {
    detail::THeartbeat& h = detail::Heartbeat();
    h.Fn = std::move(heartbeat);
    h.Interval = std::chrono::milliseconds(intervalMs);
    h.Last = std::chrono::steady_clock::now();
}

}  // namespace peltorn::db
