// The key of an encrypted data dictionary and the file X.ADD.keys that keeps it wrapped, once per
// dictionary user, under a key derived from that user's password.
//
// A dictionary's key is 32 random bytes, handed to SQLCipher as a raw key. It is never written
// anywhere in the clear: each user's entry holds it encrypted with AES-256-GCM under a key derived
// from the user's password (PBKDF2-HMAC-SHA256, a salt of the entry's own, at least 100,000
// iterations). The user's name (upper case), the iteration count and the salt are the
// authenticated data of the encryption, so that a changed name, count, salt, wrapped key or tag
// fails to unwrap just as a wrong password does. Whoever adds or changes an entry needs the key,
// that is, a password that already opens the file.
//
// The file is text, one line per item:
//   PELTORN DICTIONARY KEYS 1
//   USER <name hex> <iterations> <salt hex, 16 bytes> <nonce hex, 12 bytes> <wrapped key hex,
//        32 bytes> <tag hex, 16 bytes>
// (one USER line per user, its fields separated by one blank).
//
// Internal to the database layer.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace peltorn::db::detail {

// The key of one dictionary; wiped from memory when the object ends.
class TDictionaryKey {
public:
    TDictionaryKey();  // zero bytes
    ~TDictionaryKey();
    TDictionaryKey(const TDictionaryKey& other);
    TDictionaryKey& operator=(const TDictionaryKey& other);
    static TDictionaryKey Random();
    unsigned char* Data() { return m_bytes.data(); }
    const unsigned char* Data() const { return m_bytes.data(); }
    static constexpr std::size_t kSize = 32;
    // The raw SQLCipher key, "x'<64 hex digits>'"; the caller wipes it (WipeText) after use.
    std::string RawKey() const;

private:
    std::array<unsigned char, kSize> m_bytes{};
};

// Overwrites the characters of text before it is emptied (keys kept in a string).
void WipeText(std::string& text) noexcept;

struct TWrappedKey {
    std::string User;  // as the dictionary's users table spells it
    int Iterations = 0;
    std::string Salt, Nonce, Wrapped, Tag;  // bytes
};

// At least 100,000; new entries get this many.
inline constexpr int kKeyIterations = 120000;

// The keys file of the dictionary file (X.ADD.keys).
std::string KeysFileOf(const std::string& dictionaryFile);

// Wraps key for user under password (a new salt and nonce).
TWrappedKey WrapKey(const TDictionaryKey& key, const std::string& user,
                    const std::string& password);
// Unwraps the entry with password; false (key untouched) when the password is wrong or the entry
// was changed.
bool UnwrapKey(const TWrappedKey& entry, const std::string& password, TDictionaryKey& key);

// The file's text and back. Parsing raises EDbDatabaseError (NotADatabase) naming the file when it
// is not a keys file.
std::string KeysFileText(const std::vector<TWrappedKey>& entries);
std::vector<TWrappedKey> ParseKeysFile(const std::string& text, const std::string& file);

// Reads the keys file; raises EDbDatabaseError naming the dictionary as given (connectPath)
// when the file is missing, unreadable or damaged.
std::vector<TWrappedKey> ReadKeysFile(const std::string& dictionaryFile,
                                      const std::string& connectPath);
// Writes the file at path with mode 0600 and forces it to disk. Raises EDbDatabaseError.
void WriteKeysFile(const std::string& path, const std::vector<TWrappedKey>& entries);

// The key of the encrypted dictionary at file for user and password, from its keys file. Raises
// the layer's dictionary-credentials error (LoginRefused) when the user has no entry or the
// password does not unwrap it.
TDictionaryKey UnlockDictionary(const std::string& file, const std::string& connectPath,
                                const std::string& user, const std::string& password);

// The text of the dictionary-credentials error, the same for a plain and an encrypted dictionary.
std::string LoginRefusedText(const std::string& user, const std::string& connectPath);

// Forces the file (or folder) at path to disk; raises EDbDatabaseError naming what on failure.
void SyncPath(const std::string& path, const std::string& what);

}  // namespace peltorn::db::detail
