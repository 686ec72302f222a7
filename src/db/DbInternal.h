// Internals shared by the files of the database layer: the open state of a connection and the
// helpers that turn names and values into what the table files hold.
#pragma once

#include "db/DbConnection.h"
#include "db/DbSchema.h"
#include "db/Sqlite.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace peltorn::db::detail {

// Name of the users table of a data dictionary; hidden from table lists.
inline constexpr const char* kUsersTable = "SYS_DICTIONARY_USERS";
// Stored index names are "<TABLE>$<TAG>" so that tags need only be unique per table.
inline constexpr char kIndexTagSeparator = '$';

class ConnectionImpl {
public:
    void Connect(const std::string& connectPath, bool dictionary, const std::string& user,
                 const std::string& password);
    // Commits every open group (raising a failure after the connection is closed) and closes.
    void Disconnect();
    void DisconnectQuietly() noexcept;
    bool Connected() const { return m_connected; }
    bool Dictionary() const { return m_dictionary; }
    // The database as the machine sees it (folder, or the .ADD file).
    const std::string& Path() const { return m_path; }
    // "database <path as given>", for error texts.
    std::string What() const;
    std::uint64_t Epoch() const { return m_epoch; }

    // The shared handle of a dictionary connection.
    Handle& DictHandle() { return *m_dict; }
    // Whether the connected dictionary is encrypted. Its key was unwrapped once, when the
    // connection was made, and is kept in memory only, until the connection is closed.
    bool EncryptedDictionary() const { return !m_key.empty(); }
    // Gives a further handle on the dictionary file (a statement's own) the connection's key;
    // nothing for a plain dictionary.
    void KeyDictionaryHandle(Handle& handle) const;
    // The file of a free table, found without regard to letter case; empty when missing.
    std::string TableFile(const std::string& table) const;
    // The file a new free table gets.
    std::string NewTableFile(const std::string& table) const;
    // Whether the table exists in the database.
    bool TableExists(const std::string& table);
    // The stored table name (letter case as stored) or empty.
    std::string StoredTableName(const std::string& table);

private:
    bool m_connected = false;
    bool m_dictionary = false;
    std::string m_path;
    std::string m_given;
    std::unique_ptr<Handle> m_dict;
    std::string m_key;  // raw key of an encrypted dictionary, "x'...'"
    std::uint64_t m_epoch = 0;
};

// Names of tables, fields, indexes and parameters are ASCII; they are folded without the
// locale, which is both faster and independent of the machine's language settings.
inline char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}
std::string Upper(std::string_view text);
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    return true;
}

// The definition of the table in schema of handle (PRAGMA table_info / index lists).
TTableDef ReadTableDefFrom(Handle& handle, const std::string& schema, const std::string& table);
// The same, with the declared type of each field in field order (as the table's CREATE gives it).
TTableDef ReadTableDefFrom(Handle& handle, const std::string& schema, const std::string& table,
                           std::vector<std::string>& declaredTypes);
// Names of the tables in the handle's schema (without the dictionary's own).
std::vector<std::string> TableNamesIn(Handle& handle, const std::string& schema);
// DDL of a table definition (CREATE TABLE and CREATE INDEX statements), for schema.
std::vector<std::string> TableDdl(const TTableDef& def, const std::string& schema);

// Salted password hash of the dictionary users: "salt-hex:hash-hex".
std::string HashUserPassword(const std::string& password);
bool CheckUserPassword(const std::string& password, const std::string& stored);

// Field type codes of the catalogue view SYSTEM.COLUMNS (15 = auto-increment).
int SystemFieldTypeCode(TFieldType type);

}  // namespace peltorn::db::detail
