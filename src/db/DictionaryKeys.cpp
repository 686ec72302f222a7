// Wrapping and unwrapping the key of an encrypted data dictionary, and its keys file.
#include "db/DictionaryKeys.h"

#include "db/DbErrors.h"
#include "db/DbFiles.h"
#include "db/DbInternal.h"
#include "db/KeyDerivation.h"
#include "support/PrivateFiles.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace peltorn::db::detail {

namespace {

constexpr const char* kFileHeader = "PELTORN DICTIONARY KEYS 1";
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kTagSize = 16;
constexpr int kMinIterations = 100000;
constexpr int kMaxIterations = 100000000;

std::string Hex(const std::string& bytes) {
    static const char* kDigits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// False when text is not hexadecimal of exactly size bytes (size 0: any length but empty).
bool FromHex(const std::string& text, std::size_t size, std::string& out) {
    if (text.size() % 2 != 0 || text.empty()) return false;
    if (size != 0 && text.size() != 2 * size) return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int hi = HexDigit(text[i]);
        int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

std::string RandomBytes(std::size_t n) {
    std::string out(n, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(n)) != 1)
        throw EDbDatabaseError(TDbErrorCode::General,
                               "No random bytes for a dictionary key could be had");
    return out;
}

// The key that wraps the dictionary's key for one user: PBKDF2-HMAC-SHA256 of the password.
TDictionaryKey WrappingKey(const std::string& password, const std::string& salt, int iterations) {
    TDictionaryKey kek;
    if (!DeriveKey(password, reinterpret_cast<const unsigned char*>(salt.data()), salt.size(),
                   iterations, kek.Data(), TDictionaryKey::kSize))
        throw EDbDatabaseError(TDbErrorCode::General, "The password key could not be derived");
    return kek;
}

// What the encryption of an entry authenticates besides the key itself.
std::string AssociatedData(const TWrappedKey& entry) {
    return std::string(kFileHeader) + "\n" + Upper(entry.User) + "\n" +
           std::to_string(entry.Iterations) + "\n" + entry.Salt;
}

struct TCipherContext {
    EVP_CIPHER_CTX* Ctx = EVP_CIPHER_CTX_new();
    ~TCipherContext() { EVP_CIPHER_CTX_free(Ctx); }
};

const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

// ---- TDictionaryKey ----

TDictionaryKey::TDictionaryKey() = default;
TDictionaryKey::~TDictionaryKey() { OPENSSL_cleanse(m_bytes.data(), m_bytes.size()); }
TDictionaryKey::TDictionaryKey(const TDictionaryKey& other) = default;
TDictionaryKey& TDictionaryKey::operator=(const TDictionaryKey& other) = default;

TDictionaryKey TDictionaryKey::Random() {
    TDictionaryKey key;
    if (RAND_bytes(key.Data(), static_cast<int>(kSize)) != 1)
        throw EDbDatabaseError(TDbErrorCode::General,
                               "No random bytes for a dictionary key could be had");
    return key;
}

std::string TDictionaryKey::RawKey() const {
    static const char* kDigits = "0123456789ABCDEF";
    std::string raw = "x'";
    raw.reserve(3 + 2 * kSize);
    for (unsigned char c : m_bytes) {
        raw += kDigits[c >> 4];
        raw += kDigits[c & 15];
    }
    raw += "'";
    return raw;
}

void WipeText(std::string& text) noexcept {
    if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
    text.clear();
}

std::string KeysFileOf(const std::string& dictionaryFile) {
    return dictionaryFile + kDictionaryKeysSuffix;
}

std::string LoginRefusedText(const std::string& user, const std::string& connectPath) {
    return "Login refused for user '" + user + "' on data dictionary " + connectPath;
}

// ---- wrapping ----

TWrappedKey WrapKey(const TDictionaryKey& key, const std::string& user,
                    const std::string& password) {
    TWrappedKey entry;
    entry.User = user;
    entry.Iterations = kKeyIterations;
    entry.Salt = RandomBytes(kSaltSize);
    entry.Nonce = RandomBytes(kNonceSize);
    TDictionaryKey kek = WrappingKey(password, entry.Salt, entry.Iterations);
    const std::string aad = AssociatedData(entry);
    TCipherContext c;
    entry.Wrapped.assign(TDictionaryKey::kSize, '\0');
    entry.Tag.assign(kTagSize, '\0');
    int len = 0;
    bool ok = c.Ctx && EVP_EncryptInit_ex(c.Ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) &&
              EVP_CIPHER_CTX_ctrl(c.Ctx, EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) &&
              EVP_EncryptInit_ex(c.Ctx, nullptr, nullptr, kek.Data(), Bytes(entry.Nonce)) &&
              EVP_EncryptUpdate(c.Ctx, nullptr, &len, Bytes(aad), static_cast<int>(aad.size())) &&
              EVP_EncryptUpdate(c.Ctx, reinterpret_cast<unsigned char*>(entry.Wrapped.data()), &len,
                                key.Data(), static_cast<int>(TDictionaryKey::kSize)) &&
              len == static_cast<int>(TDictionaryKey::kSize) &&
              EVP_EncryptFinal_ex(c.Ctx, nullptr, &len) &&
              EVP_CIPHER_CTX_ctrl(c.Ctx, EVP_CTRL_GCM_GET_TAG, kTagSize, entry.Tag.data());
    if (!ok)
        throw EDbDatabaseError(TDbErrorCode::General,
                               "The dictionary key could not be wrapped for user " + user);
    return entry;
}

bool UnwrapKey(const TWrappedKey& entry, const std::string& password, TDictionaryKey& key) {
    if (entry.Salt.size() != kSaltSize || entry.Nonce.size() != kNonceSize ||
        entry.Wrapped.size() != TDictionaryKey::kSize || entry.Tag.size() != kTagSize ||
        entry.Iterations < kMinIterations || entry.Iterations > kMaxIterations)
        return false;
    TDictionaryKey kek = WrappingKey(password, entry.Salt, entry.Iterations);
    const std::string aad = AssociatedData(entry);
    TDictionaryKey out;
    std::string tag = entry.Tag;
    TCipherContext c;
    int len = 0;
    bool ok = c.Ctx && EVP_DecryptInit_ex(c.Ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) &&
              EVP_CIPHER_CTX_ctrl(c.Ctx, EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) &&
              EVP_DecryptInit_ex(c.Ctx, nullptr, nullptr, kek.Data(), Bytes(entry.Nonce)) &&
              EVP_DecryptUpdate(c.Ctx, nullptr, &len, Bytes(aad), static_cast<int>(aad.size())) &&
              EVP_DecryptUpdate(c.Ctx, out.Data(), &len, Bytes(entry.Wrapped),
                                static_cast<int>(entry.Wrapped.size())) &&
              len == static_cast<int>(TDictionaryKey::kSize) &&
              EVP_CIPHER_CTX_ctrl(c.Ctx, EVP_CTRL_GCM_SET_TAG, kTagSize, tag.data());
    // The tag is checked by the final step: a wrong password or a changed entry fails here.
    ok = ok && EVP_DecryptFinal_ex(c.Ctx, nullptr, &len) == 1;
    if (ok) key = out;
    return ok;
}

// ---- the file ----

std::string KeysFileText(const std::vector<TWrappedKey>& entries) {
    std::string text = std::string(kFileHeader) + "\n";
    for (const auto& e : entries) {
        text += "USER " + Hex(e.User) + " " + std::to_string(e.Iterations) + " " + Hex(e.Salt) +
                " " + Hex(e.Nonce) + " " + Hex(e.Wrapped) + " " + Hex(e.Tag) + "\n";
    }
    return text;
}

std::vector<TWrappedKey> ParseKeysFile(const std::string& text, const std::string& file) {
    auto damaged = [&file](const std::string& why) {
        return EDbDatabaseError(TDbErrorCode::NotADatabase,
                                "The keys file " + file + " is damaged: " + why);
    };
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kFileHeader)
        throw damaged("it does not begin with \"" + std::string(kFileHeader) + "\"");
    std::vector<TWrappedKey> entries;
    int number = 1;
    while (std::getline(in, line)) {
        ++number;
        std::istringstream fields(line);
        std::string tag, name, iterations, salt, nonce, wrapped, gcmTag, extra;
        fields >> tag >> name >> iterations >> salt >> nonce >> wrapped >> gcmTag;
        TWrappedKey e;
        bool ok = tag == "USER" && !(fields >> extra) && FromHex(name, 0, e.User) &&
                  FromHex(salt, kSaltSize, e.Salt) && FromHex(nonce, kNonceSize, e.Nonce) &&
                  FromHex(wrapped, TDictionaryKey::kSize, e.Wrapped) &&
                  FromHex(gcmTag, kTagSize, e.Tag) && !iterations.empty() &&
                  iterations.size() <= 9 &&
                  iterations.find_first_not_of("0123456789") == std::string::npos;
        if (ok) e.Iterations = std::stoi(iterations);
        if (!ok || e.Iterations < kMinIterations || e.Iterations > kMaxIterations)
            throw damaged("line " + std::to_string(number) + " is not a user's key");
        entries.push_back(std::move(e));
    }
    if (entries.empty()) throw damaged("it holds no user's key");
    return entries;
}

std::vector<TWrappedKey> ReadKeysFile(const std::string& dictionaryFile,
                                      const std::string& connectPath) {
    const std::string file = KeysFileOf(dictionaryFile);
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw EDbDatabaseError(TDbErrorCode::LoginRefused,
                               "The data dictionary " + connectPath +
                                   " is encrypted and its keys file cannot be read: " + file +
                                   ": " + std::strerror(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseKeysFile(text.str(), file);
}

void SyncPath(const std::string& path, const std::string& what) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!ok) {
        throw EDbDatabaseError(
            TDbErrorCode::FileError,
            "Cannot write " + what + " to disk: " + std::strerror(error) + " (" + path + ")");
    }
}

void WriteKeysFile(const std::string& path, const std::vector<TWrappedKey>& entries) {
    try {
        support::CreatePrivateFile(path);
    } catch (const std::runtime_error& e) {
        throw EDbDatabaseError(TDbErrorCode::FileError, e.what());
    }
    const std::string text = KeysFileText(entries);
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    std::size_t done = 0;
    while (fd >= 0 && done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = fd >= 0 && done == text.size() && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!ok) {
        throw EDbDatabaseError(
            error == ENOSPC || error == EFBIG ? TDbErrorCode::DiskFull : TDbErrorCode::FileError,
            "Cannot write the keys file " + path + ": " + std::strerror(error));
    }
}

TDictionaryKey UnlockDictionary(const std::string& file, const std::string& connectPath,
                                const std::string& user, const std::string& password) {
    TDictionaryKey key;
    for (const auto& entry : ReadKeysFile(file, connectPath)) {
        if (!EqualsNoCase(entry.User, user)) continue;
        if (UnwrapKey(entry, password, key)) return key;
        break;
    }
    throw EDbDatabaseError(TDbErrorCode::LoginRefused, LoginRefusedText(user, connectPath));
}

}  // namespace peltorn::db::detail
