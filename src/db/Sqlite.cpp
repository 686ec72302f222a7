// SQLite/SQLCipher handles, statements, key derivation, plain-file test and table locks.
#include "db/Sqlite.h"

#include "db/KeyDerivation.h"

#include "db/DbConnection.h"

#include <sqlcipher/sqlite3.h>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace peltorn::db::detail {

namespace {

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

// Lets the windows process their messages during long work of the layer itself.
void Pulse() { StatementHeartbeat(nullptr); }

}  // namespace

namespace {

bool ComputeKey(std::string_view password, const unsigned char* salt, std::size_t saltLength,
                int iterations, unsigned char* out, std::size_t outLength) {
    constexpr std::size_t kDigest = 32;
    constexpr int kRoundsPerSlice = 2000;
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac) return false;
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", digest, 0),
                                 OSSL_PARAM_construct_end()};
    bool ok = ctx && EVP_MAC_init(ctx, reinterpret_cast<const unsigned char*>(password.data()),
                                  password.size(), params) == 1;
    // One block of kDigest bytes after another: T_i = U_1 ^ ... ^ U_c, U_1 = HMAC(salt || i),
    // U_j = HMAC(U_j-1).
    for (std::uint32_t block = 1; ok && outLength > 0; ++block) {
        unsigned char u[kDigest];
        unsigned char t[kDigest];
        const unsigned char index[4] = {
            static_cast<unsigned char>(block >> 24), static_cast<unsigned char>(block >> 16),
            static_cast<unsigned char>(block >> 8), static_cast<unsigned char>(block)};
        std::size_t length = 0;
        ok = EVP_MAC_init(ctx, nullptr, 0, nullptr) == 1 &&
             EVP_MAC_update(ctx, salt, saltLength) == 1 &&
             EVP_MAC_update(ctx, index, sizeof index) == 1 &&
             EVP_MAC_final(ctx, u, &length, sizeof u) == 1 && length == kDigest;
        std::memcpy(t, u, kDigest);
        for (int round = 2; ok && round <= iterations; ++round) {
            ok = EVP_MAC_init(ctx, nullptr, 0, nullptr) == 1 &&
                 EVP_MAC_update(ctx, u, kDigest) == 1 &&
                 EVP_MAC_final(ctx, u, &length, sizeof u) == 1;
            for (std::size_t i = 0; i < kDigest; ++i) t[i] ^= u[i];
            if (round % kRoundsPerSlice == 0) Pulse();
        }
        const std::size_t take = std::min(outLength, kDigest);
        std::memcpy(out, t, take);
        out += take;
        outLength -= take;
        OPENSSL_cleanse(u, sizeof u);
        OPENSSL_cleanse(t, sizeof t);
    }
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    return ok;
}

// The keys derived in this process, by salt, rounds, length and a digest of the password (the
// password itself is not kept). A merge connects each dictionary of a group several times, and
// each connection checks the user's password and unwraps the dictionary's key: derivations of
// 20,000 and 120,000 rounds that would otherwise be computed again every time. What is derived
// from them is still verified as before (the hash compared, the wrapped key's tag checked), so
// a wrong password or a changed keys file fails exactly as without the cache.
class TDerivedKeys {
public:
    bool Derive(std::string_view password, const unsigned char* salt, std::size_t saltLength,
                int iterations, unsigned char* out, std::size_t outLength) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        if (EVP_Digest(password.data(), password.size(), digest, &digestLength, EVP_sha256(),
                       nullptr) != 1)
            return false;
        std::string id(reinterpret_cast<const char*>(salt), saltLength);
        id += "/" + std::to_string(iterations) + "/" + std::to_string(outLength) + "/";
        id.append(reinterpret_cast<const char*>(digest), digestLength);
        OPENSSL_cleanse(digest, sizeof digest);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto found = m_keys.find(id);
            if (found != m_keys.end()) {
                std::memcpy(out, found->second.data(), outLength);
                return true;
            }
        }
        // Derived outside the lock: the derivation processes the windows' messages.
        if (!ComputeKey(password, salt, saltLength, iterations, out, outLength)) return false;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_keys.size() >= kMaxKept) Clear();  // wrong passwords tried again and again
        m_keys[id].assign(reinterpret_cast<const char*>(out), outLength);
        return true;
    }
    ~TDerivedKeys() { Clear(); }

private:
    static constexpr std::size_t kMaxKept = 256;
    void Clear() {
        for (auto& [id, key] : m_keys) OPENSSL_cleanse(key.data(), key.size());
        m_keys.clear();
    }
    std::mutex m_mutex;
    std::map<std::string, std::string> m_keys;
};

}  // namespace

bool DeriveKey(std::string_view password, const unsigned char* salt, std::size_t saltLength,
               int iterations, unsigned char* out, std::size_t outLength) {
    static TDerivedKeys keys;
    return keys.Derive(password, salt, saltLength, iterations, out, outLength);
}

// ---- failure texts ----

namespace {
bool IsFullErrno(int e) { return e == ENOSPC || e == EFBIG || e == EDQUOT; }
bool IsReadOnlyErrno(int e) { return e == EROFS || e == EACCES || e == EPERM; }
}  // namespace

TDbErrorCode CodeForFailure(int rc, int systemErrno) {
    switch (rc & 0xff) {
        case SQLITE_CONSTRAINT: return TDbErrorCode::KeyViolation;
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT: return TDbErrorCode::NotADatabase;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return TDbErrorCode::TableInUse;
        case SQLITE_FULL: return TDbErrorCode::DiskFull;
        case SQLITE_READONLY: return TDbErrorCode::ReadOnly;
        case SQLITE_CANTOPEN:
            return IsReadOnlyErrno(systemErrno) ? TDbErrorCode::ReadOnly
                                                : TDbErrorCode::DatabaseNotFound;
        case SQLITE_IOERR:
            if (IsFullErrno(systemErrno)) return TDbErrorCode::DiskFull;
            if (IsReadOnlyErrno(systemErrno)) return TDbErrorCode::ReadOnly;
            return TDbErrorCode::FileError;
        default: return TDbErrorCode::SqlError;
    }
}

std::string DescribeFailure(int rc, int systemErrno, const char* engineText) {
    std::string engine = engineText ? engineText : "";
    switch (CodeForFailure(rc, systemErrno)) {
        case TDbErrorCode::NotADatabase: return "not a database file or damaged";
        case TDbErrorCode::TableInUse: return "in use by another user";
        case TDbErrorCode::DiskFull:
            return systemErrno == EFBIG ? "disk full: the file-size limit was reached"
                                        : "disk full";
        case TDbErrorCode::ReadOnly: return "read-only: the file or its folder cannot be written";
        case TDbErrorCode::FileError:
            return systemErrno != 0 ? engine + ": " + std::strerror(systemErrno) : engine;
        default: return engine;
    }
}

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
        case SQLITE_INTEGER:
            return TDbValue(static_cast<std::int64_t>(sqlite3_column_int64(m_stmt, index)));
        case SQLITE_FLOAT: return TDbValue(sqlite3_column_double(m_stmt, index));
        case SQLITE_TEXT: {
            auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, index));
            return TDbValue(
                std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, index))));
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

namespace {
std::uint64_t NextCacheGeneration() {
    static std::atomic<std::uint64_t> generation{0};
    return ++generation;
}
}  // namespace

Handle::Handle(const std::string& path, bool create, const std::string& what)
    : m_path(path), m_what(what), m_cacheGeneration(NextCacheGeneration()) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = m_db ? sqlite3_errmsg(m_db) : "cannot open";
        int sysErrno = m_db ? sqlite3_system_errno(m_db) : 0;
        if (m_db) sqlite3_close_v2(m_db);
        m_db = nullptr;
        TDbErrorCode code = CodeForFailure(rc, sysErrno);
        if (code == TDbErrorCode::SqlError) code = TDbErrorCode::DatabaseNotFound;
        throw EDbDatabaseError(code, "Cannot open " + what + ": " +
                                         DescribeFailure(rc, sysErrno, msg.c_str()) + " (" + path +
                                         ")");
    }
    if (path != ":memory:") m_use = std::make_unique<FileUse>(path, true);
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, 2000);
    sqlite3_progress_handler(m_db, kHeartbeatOps, &StatementHeartbeat, nullptr);
}

Handle::~Handle() {
    WriteGroups::CommitHandleQuietly(*this);
    m_cache.clear();
    if (m_db) {
        for (sqlite3_stmt* s = sqlite3_next_stmt(m_db, nullptr); s;
             s = sqlite3_next_stmt(m_db, nullptr)) {
            sqlite3_finalize(s);
        }
        sqlite3_close_v2(m_db);
    }
    // Only now may the layer's own descriptors of the file be closed (see FileUse).
    m_use.reset();
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
    m_cacheGeneration = NextCacheGeneration();
}

void Handle::Key(const std::string& rawKey) {
    int rc = sqlite3_key(m_db, rawKey.data(), static_cast<int>(rawKey.size()));
    if (rc != SQLITE_OK) Fail(rc, "setting the table password");
}

int Handle::Changes() const { return sqlite3_changes(m_db); }

void Handle::Fail(int rc, const std::string& context) const {
    int sysErrno = sqlite3_system_errno(m_db);
    // A journal file that cannot be made beside a table (a read-only folder or file) comes back
    // as "unable to open"; what is wrong is that the place cannot be written.
    if ((rc & 0xff) == SQLITE_CANTOPEN && m_path != ":memory:" && !IsReadOnlyErrno(sysErrno)) {
        std::string folder = m_path.substr(0, m_path.find_last_of('/') + 1);
        if (::access(m_path.c_str(), W_OK) != 0 ||
            ::access(folder.empty() ? "." : folder.c_str(), W_OK) != 0)
            sysErrno = EACCES;
    }
    std::string msg = DescribeFailure(rc, sysErrno, sqlite3_errmsg(m_db));
    std::string text = context.empty() ? msg : context + ": " + msg;
    throw EDbDatabaseError(CodeForFailure(rc, sysErrno), text + " (" + m_what + ")");
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
    if (!DeriveKey(password, kSalt, sizeof kSalt - 1, 64000, key, sizeof key))
        throw EDbDatabaseError(TDbErrorCode::General,
                               "The table password key could not be derived");
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
    FileUse use(path);
    if (!use.Counted()) return true;
    bool writable = false;
    int fd = use.TakeDescriptor(false, writable);
    if (fd < 0) return true;
    char header[16] = {};
    ssize_t got = ::pread(fd, header, sizeof header, 0);
    use.GiveBack(fd, writable);
    if (got <= 0) return true;
    return got == 16 && std::memcmp(header, "SQLite format 3", 16) == 0;
}

bool LooksEncrypted(const std::string& path) {
    // The encrypted format writes pages of 1,024 bytes or a multiple of it.
    constexpr long long kPage = 1024;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_size < kPage || st.st_size % kPage != 0)
        return false;
    return !IsPlainDatabaseFile(path);
}

std::string QuoteIdent(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// ---- the layer's descriptors of its files ----

namespace {
struct TPooledFd {
    int Fd;
    bool Writable;
};
struct TFileEntry {
    int Uses = 0;
    int EngineUses = 0;  // handles and attachments among the uses
    std::vector<TPooledFd> Idle;
};
using TFileKey = std::pair<unsigned long long, unsigned long long>;  // device, inode
std::map<TFileKey, TFileEntry>& Files() {
    static std::map<TFileKey, TFileEntry> files;
    return files;
}
}  // namespace

FileUse::FileUse(const std::string& path, bool engine) : m_path(path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    m_dev = static_cast<unsigned long long>(st.st_dev);
    m_ino = static_cast<unsigned long long>(st.st_ino);
    TFileEntry& entry = Files()[{m_dev, m_ino}];
    ++entry.Uses;
    if (engine) ++entry.EngineUses;
    m_counted = true;
    m_engine = engine;
}

bool FileUse::IsEngineOpen(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    auto it = Files().find(
        {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)});
    return it != Files().end() && it->second.EngineUses > 0;
}

FileUse::~FileUse() {
    if (!m_counted) return;
    auto it = Files().find({m_dev, m_ino});
    if (it == Files().end()) return;
    if (m_engine) --it->second.EngineUses;
    if (--it->second.Uses > 0) return;
    // No handle, attachment or lock of the layer is left on the file: closing cannot drop a lock
    // that anybody of this process relies on.
    for (const auto& p : it->second.Idle) ::close(p.Fd);
    Files().erase(it);
}

int FileUse::TakeDescriptor(bool writable, bool& isWritable) {
    if (!m_counted) return -1;
    auto& idle = Files()[{m_dev, m_ino}].Idle;
    for (auto it = idle.begin(); it != idle.end(); ++it) {
        if (writable && !it->Writable) continue;
        int fd = it->Fd;
        isWritable = it->Writable;
        idle.erase(it);
        return fd;
    }
    int fd = ::open(m_path.c_str(), O_RDWR | O_CLOEXEC);
    isWritable = fd >= 0;
    if (fd < 0) fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd;
}

void FileUse::GiveBack(int fd, bool isWritable) {
    if (fd < 0) return;
    Files()[{m_dev, m_ino}].Idle.push_back({fd, isWritable});
}

// ---- locks ----

namespace {
// Far above the bytes SQLite locks, one byte per table (by a hash of its name); the byte just
// below them stands for the whole database while a merge run works on it.
constexpr long long kLockBase = 0x4000000000000000LL;
constexpr long long kDatabaseRunByte = kLockBase - 1;
// The table bytes are kLockBase plus a 32-bit hash of the table name.
constexpr long long kAllTablesLength = 1LL << 32;
}  // namespace

TableLock::TTake TableLock::Take(const std::string& file, long long offset, bool exclusive) {
    m_use = std::make_unique<FileUse>(file);
    if (m_use->Counted()) m_fd = m_use->TakeDescriptor(exclusive, m_writable);
    if (m_fd < 0) return TTake::NoFile;
    m_offset = offset;
    m_exclusive = exclusive;
    TTake result = TTake::Locked;
    if (exclusive && !m_writable)
        result = TTake::ReadOnly;
    else if (!Set(exclusive ? F_WRLCK : F_RDLCK))
        result = TTake::Held;
    if (result != TTake::Locked) {
        m_use->GiveBack(m_fd, m_writable);
        m_fd = -1;
    }
    return result;
}

TableLock::TableLock(const std::string& file, const std::string& table, bool exclusive,
                     const std::string& what) {
    std::uint32_t hash = 2166136261u;
    for (char c : table) {
        hash ^= static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
        hash *= 16777619u;
    }
    switch (Take(file, kLockBase + static_cast<long long>(hash), exclusive)) {
        case TTake::Locked: return;
        case TTake::NoFile:
            throw EDbDatabaseError(
                TDbErrorCode::FileError,
                "Cannot open " + what + ": " + std::strerror(errno) + " (" + file + ")");
        case TTake::ReadOnly:
            throw EDbDatabaseError(TDbErrorCode::ReadOnly,
                                   "Table " + table +
                                       " cannot be opened for exclusive use: "
                                       "read-only: the file cannot be written (" +
                                       what + ")");
        case TTake::Held:
            throw EDbDatabaseError(
                TDbErrorCode::TableInUse,
                exclusive
                    ? "Table " + table +
                          " cannot be opened for exclusive use: it is in use "
                          "by another user (" +
                          what + ")"
                    : "Table " + table + " is in exclusive use by another user (" + what + ")");
    }
}

std::unique_ptr<TableLock> TableLock::TryDatabase(const std::string& file) {
    std::unique_ptr<TableLock> lock(new TableLock());
    if (lock->Take(file, kDatabaseRunByte, true) != TTake::Locked) return nullptr;
    return lock;
}

std::unique_ptr<TableLock> TableLock::TryAllTables(const std::string& file, bool& readOnly) {
    std::unique_ptr<TableLock> lock(new TableLock());
    lock->m_length = kAllTablesLength;
    const TTake taken = lock->Take(file, kLockBase, true);
    readOnly = taken == TTake::ReadOnly;
    if (taken != TTake::Locked) return nullptr;
    return lock;
}

TableLock::~TableLock() {
    if (m_fd < 0) return;
    Set(F_UNLCK);
    // The descriptor goes back to the file's pool, not closed (see FileUse).
    m_use->GiveBack(m_fd, m_writable);
}

bool TableLock::Set(short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = m_offset;
    fl.l_len = m_length;
    return ::fcntl(m_fd, F_OFD_SETLK, &fl) == 0;
}

bool TableLock::TryExclusive() {
    if (m_exclusive) return true;
    if (!m_writable || !Set(F_WRLCK)) return false;
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
    std::vector<std::string> Tables;  // what the group holds posts of, for the failure's text
    bool Held = false;  // opened while a write batch is held: committed only by CommitHeld
};
bool& Holding() {
    static bool holding = false;
    return holding;
}
std::vector<Group>& Groups() {
    static std::vector<Group> groups;
    return groups;
}
// Failures of commits that could not be raised where they happened (a handle being destroyed).
using TFailure = std::pair<TDbErrorCode, std::string>;
std::vector<TFailure>& Kept() {
    static std::vector<TFailure> kept;
    return kept;
}
constexpr int kMaxPosts = 2000;
constexpr auto kMaxAge = std::chrono::milliseconds(250);

// Commits the group. On failure the group's transaction is rolled back (the storage engine may
// have done so already), so that the handle is usable again, and the failure is returned with
// the text the operator is shown; the group's records were not written.
std::optional<std::pair<TDbErrorCode, std::string>> Commit(Group& g) noexcept {
    sqlite3* db = g.H->Db();
    if (sqlite3_get_autocommit(db)) return std::nullopt;
    int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return std::nullopt;
    const int sysErrno = sqlite3_system_errno(db);
    std::string why = DescribeFailure(rc, sysErrno, sqlite3_errmsg(db));
    if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    std::string where;
    for (const auto& t : g.Tables) where += (where.empty() ? "" : ", ") + t;
    if (where.empty()) where = g.H->What();
    std::string text =
        "The records posted to " + where + " since the last commit could not be written: " + why;
    return std::make_pair(CodeForFailure(rc, sysErrno), text);
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

void Raise(const std::pair<TDbErrorCode, std::string>& failure) {
    throw EDbDatabaseError(failure.first, failure.second);
}

void RaiseKept() {
    if (Kept().empty()) return;
    TFailure first = Kept().front();
    Kept().clear();
    Raise(first);
}
}  // namespace

void BeforeWrite(Handle& handle, const std::string& file, const std::string& what) {
    CommitFile(file, &handle);
    for (auto& g : Groups()) {
        if (g.H != &handle) continue;
        if (std::find(g.Tables.begin(), g.Tables.end(), what) == g.Tables.end())
            g.Tables.push_back(what);
        return;
    }
    if (!sqlite3_get_autocommit(handle.Db())) return;  // a transaction of the caller's own
    handle.Exec("BEGIN");
    Groups().push_back({&handle, file, 0, std::chrono::steady_clock::now(), {what}, Holding()});
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
            if (auto failure = Commit(g)) Raise(*failure);
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
            if (auto failure = Commit(g)) Raise(*failure);
        } else {
            ++it;
        }
    }
}

namespace {
std::optional<std::pair<TDbErrorCode, std::string>> CommitOf(Handle& handle,
                                                             bool closing) noexcept {
    auto& groups = Groups();
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        if (it->H == &handle) {
            if (it->Held && !closing) return std::nullopt;
            Group g = *it;
            if (g.Held) {
                groups.erase(it);
                Rollback(g);
                return std::nullopt;
            }
            groups.erase(it);
            return Commit(g);
        }
    }
    return std::nullopt;
}
}  // namespace

void CommitHandle(Handle& handle) {
    if (auto failure = CommitOf(handle, false)) Raise(*failure);
}

void CommitHandleQuietly(Handle& handle) noexcept {
    if (auto failure = CommitOf(handle, true)) {
        try {
            Kept().push_back(std::move(*failure));
        } catch (...) {
            // Out of memory while keeping a failure: nothing more can be done here.
        }
    }
}

namespace {
// Commits every group; the failures in the order met.
std::vector<std::pair<TDbErrorCode, std::string>> CommitEvery() noexcept {
    std::vector<std::pair<TDbErrorCode, std::string>> failures;
    // Inside a statement's heartbeat (a question the operator is asked while a long statement
    // runs) no connection may be committed under its running statement; the groups are
    // committed at the next occasion instead.
    if (Heartbeat().Running) return failures;
    auto groups = std::move(Groups());
    Groups().clear();
    for (auto& g : groups) {
        if (g.Held)
            Groups().push_back(g);
        else if (auto failure = Commit(g))
            failures.push_back(std::move(*failure));
    }
    return failures;
}
}  // namespace

void BeginHold() {
    if (Holding()) throw std::logic_error("a write batch is held already");
    CommitAll();
    Holding() = true;
}

void CommitHeld() {
    Holding() = false;
    std::vector<Group> held = TakeHeld();
    for (std::size_t i = 0; i < held.size(); ++i) {
        auto failure = Commit(held[i]);
        if (!failure) continue;
        // The rest are taken back as well, so that no transaction stays open on a handle.
        for (std::size_t j = i + 1; j < held.size(); ++j) Rollback(held[j]);
        Raise(*failure);
    }
}

void RollbackHeld() noexcept {
    Holding() = false;
    for (auto& g : TakeHeld()) Rollback(g);
}

void CommitAll() {
    auto failures = CommitEvery();
    if (!failures.empty()) Raise(failures.front());
    RaiseKept();
}

std::string CommitAllQuietly() noexcept {
    std::string text;
    try {
        for (const auto& failure : CommitEvery())
            text += (text.empty() ? "" : "; ") + failure.second;
        auto kept = std::move(Kept());
        Kept().clear();
        for (const auto& failure : kept) text += (text.empty() ? "" : "; ") + failure.second;
    } catch (...) {
        // Out of memory while composing the text: the groups were committed or rolled back.
    }
    return text;
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
