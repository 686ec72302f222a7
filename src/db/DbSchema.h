// Table definitions: the fields, types, widths and indexes of one table, and the routines that
// create a table from its definition and read a definition back from a database.
//
// The declared column types in the table files are fixed here (DeclaredType), so that a field's
// type survives in the file and the stock sqlite3 shell shows readable types:
//   ftString "CHAR(n)", ftSmallint "SHORTINT", ftInteger "INTEGER", ftAutoInc "AUTOINC INTEGER",
//   ftFloat "DOUBLE", ftCurrency "MONEY REAL", ftDate "DATE", ftTime "TIME",
//   ftDateTime "TIMESTAMP", ftBoolean "LOGICAL", ftMemo "MEMO TEXT", ftGraphic "IMAGE BLOB",
//   ftBlob "BINARY BLOB".
#pragma once

#include "db/DbTypes.h"

#include <optional>
#include <string>
#include <vector>

namespace peltorn::db {

class TDbConnection;

struct TFieldDef {
    std::string Name;
    TFieldType Type = TFieldType::ftString;
    int Size = 0;         // width of character fields; 0 for the others
    std::string Default;  // SQL default expression, empty for none (null)
};

struct TIndexDef {
    std::string Name;                 // the index tag (IndexName)
    std::vector<std::string> Fields;  // in key order
    bool Unique = false;
};

struct TTableDef {
    std::string Name;
    std::vector<TFieldDef> Fields;
    std::vector<TIndexDef> Indexes;

    const TFieldDef* FindField(std::string_view name) const;  // any letter case
};

std::string DeclaredType(const TFieldDef& field);
// Maps a declared column type back to its field type and width; unknown types give ftUnknown.
TFieldType FieldTypeFromDeclared(std::string_view declared, int* size = nullptr);

// Creates the table in the connected database: for a folder of free tables the file
// <NAME>.ADT (which must not exist yet), for a dictionary a table inside the .ADD file.
// Connects the connection when needed. Raises EDbDatabaseError when the table exists already.
void CreateTable(TDbConnection& connection, const TTableDef& def);

// The table names of the database (free-table files without extension, or the dictionary's
// tables), upper case as stored, sorted. Connects when needed.
std::vector<std::string> ListTables(TDbConnection& connection);

// The definition of an existing table as stored. Raises EDbDatabaseError for a missing table.
// For an encrypted free table, password must be the table password.
TTableDef ReadTableDef(TDbConnection& connection, const std::string& table,
                       const std::string& password = {});

// Creates an empty data dictionary file (path ends in ".ADD") with its users; each password is
// kept as a salted hash in the users table. Encrypted (db/DbDictionary.h), the file is one
// SQLCipher file under a random key that is kept only wrapped for each user in the keys file
// beside it; plain, it is a plain SQLite file that the sqlite3 shell reads. The files are
// created readable by their owner only (mode 0600, new folders 0700). Raises EDbDatabaseError
// when the file exists already; on any failure nothing of the dictionary is left.
struct TDictionaryUser {
    std::string Name;
    std::string Password;
};
enum class TDictionaryStorage { Plain, Encrypted };
void CreateDictionary(const std::string& path, const std::vector<TDictionaryUser>& users,
                      TDictionaryStorage storage = TDictionaryStorage::Plain);

// Split "A;B;C" into its names, blanks around each name removed.
std::vector<std::string> SplitFieldList(std::string_view list);

}  // namespace peltorn::db
