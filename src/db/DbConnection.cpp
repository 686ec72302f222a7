// TDbConnection: connecting a folder of free tables or a data dictionary, the sign-on against a
// dictionary's users, and the bookkeeping of the datasets bound to the connection.
#include "db/DbConnection.h"

#include "db/DbDataSet.h"
#include "db/DbInternal.h"
#include "db/DbQuery.h"
#include "db/DictionaryKeys.h"
#include "db/KeyDerivation.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>

namespace fs = std::filesystem;

namespace peltorn::db {

namespace {
const char* kPathWhileConnected =
    "The TDbConnection.ConnectPath may not be changed when IsConnected is TRUE";
const char* kNoConnectPath = "Must specify connection string before getting a server connection.";
}  // namespace

std::string NormalizePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        char sep = c == '\\' ? '/' : c;
        if (sep == '/' && !out.empty() && out.back() == '/') continue;
        out += sep;
    }
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

void FlushPendingWrites() { detail::WriteGroups::CommitAll(); }

// ---- TDatabaseRunLock ----

struct TDatabaseRunLock::TImpl {
    // A dictionary: a byte of its own on the .ADD file, through the layer's descriptors.
    std::unique_ptr<detail::TableLock> FileLock;
    // A folder of free tables: the folder itself, locked as a whole (no table file is touched,
    // so no descriptor of a table file is opened or closed for it).
    int FolderFd = -1;
};

std::unique_ptr<TDatabaseRunLock> TDatabaseRunLock::TryAcquire(const std::string& connectPath) {
    std::string path = NormalizePath(connectPath);
    auto impl = std::make_unique<TImpl>();
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        impl->FileLock = detail::TableLock::TryDatabase(path);
        if (!impl->FileLock) return nullptr;
    } else {
        impl->FolderFd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (impl->FolderFd < 0) return nullptr;
        if (::flock(impl->FolderFd, LOCK_EX | LOCK_NB) != 0) {
            ::close(impl->FolderFd);
            return nullptr;
        }
    }
    std::unique_ptr<TDatabaseRunLock> lock(new TDatabaseRunLock());
    lock->m_impl = std::move(impl);
    return lock;
}

TDatabaseRunLock::~TDatabaseRunLock() {
    if (m_impl && m_impl->FolderFd >= 0) ::close(m_impl->FolderFd);
}

// ---- TDbConnection ----

TWriteBatch::TWriteBatch() { detail::WriteGroups::BeginHold(); }

TWriteBatch::~TWriteBatch() {
    if (!m_done) detail::WriteGroups::RollbackHeld();
}

void TWriteBatch::Commit() {
    if (m_done) return;
    m_done = true;
    detail::WriteGroups::CommitHeld();
}

TDbConnection::TDbConnection(std::string name)
    : m_name(std::move(name)), m_impl(std::make_unique<detail::ConnectionImpl>()) {}

TDbConnection::~TDbConnection() {
    for (TDataSet* ds : std::vector<TDataSet*>(m_dataSets)) {
        try {
            ds->ConnectionClosing();
        } catch (const std::exception&) {
            // A failed commit on the way out is kept and raised by the next FlushPendingWrites.
        }
    }
    m_impl->DisconnectQuietly();
}

void TDbConnection::SetConnectPath(const std::string& path) {
    if (IsConnected()) throw EDbConnectionError(kPathWhileConnected);
    m_connectPath = path;
    m_isDictionary = detail::Upper(path).find(".ADD") != std::string::npos;
}

bool TDbConnection::IsConnected() const { return m_impl->Connected(); }

bool TDbConnection::IsEncryptedDictionary() const {
    return m_impl->Connected() && m_impl->EncryptedDictionary();
}

void TDbConnection::SetIsConnected(bool connected) {
    if (connected == IsConnected()) return;
    if (connected) {
        if (m_connectPath.empty()) throw EDbConnectionError(kNoConnectPath);
        m_impl->Connect(m_connectPath, m_isDictionary, Username, Password);
    } else {
        // Every dataset is closed and the connection closed even when a commit on the way fails;
        // the first failure is raised afterwards.
        std::exception_ptr failure;
        for (TDataSet* ds : std::vector<TDataSet*>(m_dataSets)) {
            try {
                ds->ConnectionClosing();
            } catch (...) {
                if (!failure) failure = std::current_exception();
            }
        }
        try {
            m_impl->Disconnect();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
        if (failure) std::rethrow_exception(failure);
    }
}

int TDbConnection::ExecuteStatement(const std::string& sql) {
    TDbQuery query("ExecuteStatement");
    query.SetConnection(this);
    query.SQL().Add(sql);
    query.ExecSQL();
    return query.RowsAffected();
}

detail::ConnectionImpl& TDbConnection::Impl() { return *m_impl; }

void TDbConnection::RegisterDataSet(TDataSet* dataset) { m_dataSets.push_back(dataset); }

void TDbConnection::UnregisterDataSet(TDataSet* dataset) {
    m_dataSets.erase(std::remove(m_dataSets.begin(), m_dataSets.end(), dataset), m_dataSets.end());
}

namespace detail {

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = UpperAscii(c);
    return out;
}

std::string ConnectionImpl::What() const { return "database " + m_given; }

void ConnectionImpl::Connect(const std::string& connectPath, bool dictionary,
                             const std::string& user, const std::string& password) {
    std::string path = NormalizePath(connectPath);
    m_given = connectPath;
    std::error_code ec;
    if (dictionary) {
        if (!fs::is_regular_file(path, ec)) {
            throw EDbDatabaseError(TDbErrorCode::DatabaseNotFound,
                                   "Data dictionary not found: " + connectPath);
        }
        // An encrypted dictionary opens only with the key its keys file gives this user for this
        // password: the password check is the unwrapping itself. The users table inside is
        // checked as well, as for a plain dictionary.
        std::string key;
        const bool encrypted = !IsPlainDatabaseFile(path);
        if (encrypted) {
            if (!LooksEncrypted(path) && !fs::exists(KeysFileOf(path), ec)) {
                throw EDbDatabaseError(TDbErrorCode::NotADatabase,
                                       "The file is not a data dictionary: " + connectPath);
            }
            key = UnlockDictionary(path, connectPath, user, password).RawKey();
        }
        auto handle = std::make_unique<Handle>(path, false, "database " + connectPath);
        std::string stored;
        try {
            if (encrypted) {
                handle->Key(key);
                try {
                    handle->Exec("SELECT count(*) FROM sqlite_master");
                } catch (const EDbDatabaseError& e) {
                    if (e.Code() != TDbErrorCode::NotADatabase) throw;
                    WipeText(key);
                    throw EDbDatabaseError(TDbErrorCode::NotADatabase,
                                           "The keys file " + KeysFileOf(path) +
                                               " does not open the data dictionary " + connectPath +
                                               ": the file is damaged or the keys are another "
                                               "dictionary's");
                }
            }
            Stmt& s = handle->Prepare(std::string("SELECT HASH FROM ") + kUsersTable +
                                      " WHERE upper(NAME) = upper(?1)");
            ScopedStmt scoped(s);
            s.Bind(1, TDbValue(user));
            if (s.Step())
                stored = s.Column(0).IsText() ? s.Column(0).Text() : std::string();
            else
                stored.clear();
        } catch (const EDbDatabaseError& e) {
            WipeText(key);
            if (encrypted && e.Code() == TDbErrorCode::NotADatabase) throw;
            throw EDbDatabaseError(TDbErrorCode::NotADatabase,
                                   "The file is not a data dictionary: " + connectPath);
        }
        if (stored.empty() || !CheckUserPassword(password, stored)) {
            WipeText(key);
            throw EDbDatabaseError(TDbErrorCode::LoginRefused, LoginRefusedText(user, connectPath));
        }
        handle->Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
        m_dict = std::move(handle);
        m_key = std::move(key);
    } else {
        if (!fs::is_directory(path, ec)) {
            throw EDbDatabaseError(TDbErrorCode::DatabaseNotFound,
                                   "Database folder not found: " + connectPath);
        }
    }
    m_path = path;
    m_dictionary = dictionary;
    m_connected = true;
    ++m_epoch;
}

void ConnectionImpl::Disconnect() {
    std::exception_ptr failure;
    try {
        WriteGroups::CommitAll();
    } catch (...) {
        failure = std::current_exception();
    }
    DisconnectQuietly();
    if (failure) std::rethrow_exception(failure);
}

void ConnectionImpl::DisconnectQuietly() noexcept {
    if (m_dict) WriteGroups::CommitHandleQuietly(*m_dict);
    m_dict.reset();
    WipeText(m_key);
    m_connected = false;
    ++m_epoch;
}

void ConnectionImpl::KeyDictionaryHandle(Handle& handle) const {
    if (!m_key.empty()) handle.Key(m_key);
}

std::string ConnectionImpl::TableFile(const std::string& table) const {
    if (table.empty()) return {};
    std::string exact = m_path + "/" + table + ".ADT";
    std::error_code ec;
    if (fs::is_regular_file(exact, ec)) return exact;
    std::string wanted = Upper(table) + ".ADT";
    for (const auto& entry : fs::directory_iterator(m_path, ec)) {
        if (Upper(entry.path().filename().string()) == wanted && entry.is_regular_file(ec)) {
            return entry.path().string();
        }
    }
    return {};
}

std::string ConnectionImpl::NewTableFile(const std::string& table) const {
    return m_path + "/" + Upper(table) + ".ADT";
}

std::string ConnectionImpl::StoredTableName(const std::string& table) {
    if (!m_dictionary) {
        std::string file = TableFile(table);
        return file.empty() ? std::string() : fs::path(file).stem().string();
    }
    Stmt& s = m_dict->Prepare(
        "SELECT name FROM sqlite_master WHERE type='table' AND upper(name)=upper(?1)");
    ScopedStmt scoped(s);
    s.Bind(1, TDbValue(table));
    if (s.Step() && !EqualsNoCase(table, kUsersTable)) return s.Column(0).Text();
    return {};
}

bool ConnectionImpl::TableExists(const std::string& table) {
    return !StoredTableName(table).empty();
}

// ---- dictionary users ----

namespace {
const char* kHexDigits = "0123456789abcdef";
std::string ToHex(const unsigned char* data, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += kHexDigits[data[i] >> 4];
        out += kHexDigits[data[i] & 15];
    }
    return out;
}
std::string Pbkdf2(const std::string& password, const std::string& saltHex) {
    unsigned char out[32];
    if (!detail::DeriveKey(password, reinterpret_cast<const unsigned char*>(saltHex.data()),
                           saltHex.size(), 20000, out, sizeof out))
        throw EDbDatabaseError(TDbErrorCode::General, "The password hash could not be formed");
    return ToHex(out, sizeof out);
}
}  // namespace

std::string HashUserPassword(const std::string& password) {
    unsigned char salt[16];
    RAND_bytes(salt, sizeof salt);
    std::string saltHex = ToHex(salt, sizeof salt);
    return saltHex + ":" + Pbkdf2(password, saltHex);
}

bool CheckUserPassword(const std::string& password, const std::string& stored) {
    auto colon = stored.find(':');
    if (colon == std::string::npos) return false;
    std::string expected = Pbkdf2(password, stored.substr(0, colon));
    std::string actual = stored.substr(colon + 1);
    if (expected.size() != actual.size()) return false;
    unsigned diff = 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
        diff |= static_cast<unsigned>(expected[i] ^ actual[i]);
    return diff == 0;
}

}  // namespace detail
}  // namespace peltorn::db
