// Table definitions: declared types, creating tables and dictionaries, and reading definitions
// back from the files.
#include "db/DbSchema.h"

#include "db/DbConnection.h"
#include "db/DbInternal.h"
#include "db/DictionaryKeys.h"
#include "support/PrivateFiles.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace fs = std::filesystem;

namespace peltorn::db {

using detail::Upper;

const TFieldDef* TTableDef::FindField(std::string_view name) const {
    for (const auto& f : Fields)
        if (detail::EqualsNoCase(f.Name, name)) return &f;
    return nullptr;
}

std::string DeclaredType(const TFieldDef& field) {
    switch (field.Type) {
        case TFieldType::ftString: return "CHAR(" + std::to_string(field.Size) + ")";
        case TFieldType::ftSmallint: return "SHORTINT";
        case TFieldType::ftInteger: return "INTEGER";
        case TFieldType::ftAutoInc: return "AUTOINC INTEGER";
        case TFieldType::ftFloat: return "DOUBLE";
        case TFieldType::ftCurrency: return "MONEY REAL";
        case TFieldType::ftDate: return "DATE";
        case TFieldType::ftTime: return "TIME";
        case TFieldType::ftDateTime: return "TIMESTAMP";
        case TFieldType::ftBoolean: return "LOGICAL";
        case TFieldType::ftMemo: return "MEMO TEXT";
        case TFieldType::ftGraphic: return "IMAGE BLOB";
        case TFieldType::ftBlob: return "BINARY BLOB";
        case TFieldType::ftUnknown: break;
    }
    return "BLOB";
}

TFieldType FieldTypeFromDeclared(std::string_view declared, int* size) {
    std::string d = Upper(declared);
    if (size) *size = 0;
    if (d.rfind("CHAR", 0) == 0 || d.rfind("VARCHAR", 0) == 0) {
        auto open = d.find('(');
        if (size && open != std::string::npos) {
            int n = 0;
            std::from_chars(d.data() + open + 1, d.data() + d.size(), n);
            *size = n;
        }
        return TFieldType::ftString;
    }
    if (d == "SHORTINT") return TFieldType::ftSmallint;
    if (d == "AUTOINC INTEGER") return TFieldType::ftAutoInc;
    if (d == "INTEGER" || d == "INT" || d == "BIGINT") return TFieldType::ftInteger;
    if (d == "DOUBLE" || d == "REAL" || d == "FLOAT") return TFieldType::ftFloat;
    if (d == "MONEY REAL" || d == "MONEY" || d == "CURRENCY") return TFieldType::ftCurrency;
    if (d == "DATE") return TFieldType::ftDate;
    if (d == "TIME") return TFieldType::ftTime;
    if (d == "TIMESTAMP" || d == "DATETIME") return TFieldType::ftDateTime;
    if (d == "LOGICAL" || d == "BOOLEAN") return TFieldType::ftBoolean;
    if (d == "MEMO TEXT" || d == "MEMO" || d == "TEXT") return TFieldType::ftMemo;
    if (d == "IMAGE BLOB" || d == "IMAGE") return TFieldType::ftGraphic;
    if (d == "BINARY BLOB" || d == "BLOB") return TFieldType::ftBlob;
    return TFieldType::ftUnknown;
}

std::vector<std::string> SplitFieldList(std::string_view list) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= list.size()) {
        auto semi = list.find(';', start);
        std::string_view part = list.substr(
            start, semi == std::string_view::npos ? std::string_view::npos : semi - start);
        while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
        while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
        if (!part.empty()) out.emplace_back(part);
        if (semi == std::string_view::npos) break;
        start = semi + 1;
    }
    return out;
}

namespace detail {

std::vector<std::string> TableDdl(const TTableDef& def, const std::string& schema) {
    std::string prefix = schema.empty() ? std::string() : QuoteIdent(schema) + ".";
    std::string create = "CREATE TABLE " + prefix + QuoteIdent(def.Name) + " (";
    for (std::size_t i = 0; i < def.Fields.size(); ++i) {
        const auto& f = def.Fields[i];
        if (i) create += ", ";
        create += QuoteIdent(f.Name) + " " + DeclaredType(f);
        if (!f.Default.empty()) create += " DEFAULT " + f.Default;
    }
    create += ")";
    std::vector<std::string> ddl{create};
    for (const auto& idx : def.Indexes) {
        std::string stmt = std::string("CREATE ") + (idx.Unique ? "UNIQUE " : "") + "INDEX " +
                           prefix + QuoteIdent(def.Name + kIndexTagSeparator + idx.Name) + " ON " +
                           QuoteIdent(def.Name) + " (";
        for (std::size_t i = 0; i < idx.Fields.size(); ++i) {
            if (i) stmt += ", ";
            stmt += QuoteIdent(idx.Fields[i]);
        }
        ddl.push_back(stmt + ")");
    }
    return ddl;
}

TTableDef ReadTableDefFrom(Handle& handle, const std::string& schema, const std::string& table) {
    std::vector<std::string> declaredTypes;
    return ReadTableDefFrom(handle, schema, table, declaredTypes);
}

TTableDef ReadTableDefFrom(Handle& handle, const std::string& schema, const std::string& table,
                           std::vector<std::string>& declaredTypes) {
    TTableDef def;
    declaredTypes.clear();
    std::string prefix = QuoteIdent(schema) + ".";
    {
        auto s = handle.PrepareOnce("PRAGMA " + prefix + "table_info(" + QuoteIdent(table) + ")");
        while (s->Step()) {
            TFieldDef f;
            f.Name = s->Column(1).Text();
            std::string declared = s->Column(2).IsText() ? s->Column(2).Text() : std::string();
            f.Type = FieldTypeFromDeclared(declared, &f.Size);
            if (s->Column(4).IsText()) f.Default = s->Column(4).Text();
            def.Fields.push_back(f);
            declaredTypes.push_back(declared);
        }
    }
    if (def.Fields.empty()) {
        throw EDbDatabaseError(TDbErrorCode::TableNotFound,
                               "Table " + table + " not found (" + handle.What() + ")");
    }
    // The stored name, in its own letter case.
    {
        auto s = handle.PrepareOnce("SELECT name FROM " + prefix +
                                    "sqlite_master WHERE type='table' AND upper(name)=upper(?1)");
        s->Bind(1, TDbValue(table));
        def.Name = s->Step() ? s->Column(0).Text() : table;
    }
    std::vector<std::pair<std::string, bool>> indexes;
    {
        auto s =
            handle.PrepareOnce("PRAGMA " + prefix + "index_list(" + QuoteIdent(def.Name) + ")");
        while (s->Step()) {
            std::string name = s->Column(1).Text();
            if (name.rfind("sqlite_autoindex", 0) == 0) continue;
            indexes.emplace_back(name, s->Column(2).IsInteger() && s->Column(2).Integer() != 0);
        }
    }
    // index_list gives the newest first; keep the order of creation.
    std::reverse(indexes.begin(), indexes.end());
    for (const auto& [stored, unique] : indexes) {
        TIndexDef idx;
        auto sep = stored.find(kIndexTagSeparator);
        idx.Name = sep == std::string::npos ? stored : stored.substr(sep + 1);
        idx.Unique = unique;
        auto s = handle.PrepareOnce("PRAGMA " + prefix + "index_info(" + QuoteIdent(stored) + ")");
        std::vector<std::pair<std::int64_t, std::string>> cols;
        while (s->Step())
            cols.emplace_back(s->Column(0).Integer(),
                              s->Column(2).IsText() ? s->Column(2).Text() : std::string());
        std::sort(cols.begin(), cols.end());
        for (auto& c : cols) idx.Fields.push_back(c.second);
        def.Indexes.push_back(idx);
    }
    return def;
}

std::vector<std::string> TableNamesIn(Handle& handle, const std::string& schema) {
    std::vector<std::string> names;
    auto s = handle.PrepareOnce("SELECT name FROM " + QuoteIdent(schema) +
                                ".sqlite_master WHERE type='table' ORDER BY name");
    while (s->Step()) {
        std::string name = s->Column(0).Text();
        if (EqualsNoCase(name, kUsersTable) || name.rfind("sqlite_", 0) == 0) continue;
        names.push_back(name);
    }
    return names;
}

int SystemFieldTypeCode(TFieldType type) {
    switch (type) {
        case TFieldType::ftString: return 1;
        case TFieldType::ftSmallint: return 2;
        case TFieldType::ftInteger: return 3;
        case TFieldType::ftFloat: return 4;
        case TFieldType::ftCurrency: return 5;
        case TFieldType::ftDate: return 6;
        case TFieldType::ftTime: return 7;
        case TFieldType::ftDateTime: return 8;
        case TFieldType::ftBoolean: return 9;
        case TFieldType::ftMemo: return 10;
        case TFieldType::ftGraphic: return 11;
        case TFieldType::ftBlob: return 12;
        case TFieldType::ftAutoInc: return 15;
        case TFieldType::ftUnknown: break;
    }
    return 0;
}

}  // namespace detail

void CreateTable(TDbConnection& connection, const TTableDef& def) {
    // The storage engine would take an index field it does not know for a constant and index
    // nothing; such a definition is refused before anything is made.
    for (const auto& index : def.Indexes)
        for (const auto& field : index.Fields)
            if (!def.FindField(field))
                throw EDbDatabaseError(TDbErrorCode::General, "Index " + index.Name + " of table " +
                                                                  def.Name +
                                                                  " names unknown field " + field);
    detail::WriteGroups::CommitAll();
    connection.Connect();
    auto& impl = connection.Impl();
    if (impl.TableExists(def.Name)) {
        throw EDbDatabaseError(TDbErrorCode::General,
                               "Table " + def.Name + " exists already (" + impl.What() + ")");
    }
    if (impl.Dictionary()) {
        auto& h = impl.DictHandle();
        h.Exec("BEGIN");
        try {
            for (const auto& stmt : detail::TableDdl(def, "main")) h.Exec(stmt);
            h.Exec("COMMIT");
        } catch (...) {
            h.Exec("ROLLBACK");
            throw;
        }
        h.ClearCache();
        return;
    }
    std::string file = impl.NewTableFile(def.Name);
    std::string tmp = file + ".new";
    // The table is made under a temporary name and renamed into place, so that a failure never
    // leaves a half-made table file behind; nor does it leave the temporary file.
    auto removeTemporary = [&tmp] {
        std::error_code ignored;
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            fs::remove(tmp + suffix, ignored);
    };
    removeTemporary();
    try {
        {
            detail::Handle h(tmp, true, "table " + def.Name + " (" + impl.What() + ")");
            h.Exec("PRAGMA journal_mode=WAL");
            h.Exec("BEGIN");
            for (const auto& stmt : detail::TableDdl(def, "main")) h.Exec(stmt);
            h.Exec("COMMIT");
        }
        std::error_code ec;
        fs::rename(tmp, file, ec);
        if (ec) {
            throw EDbDatabaseError(
                TDbErrorCode::FileError,
                "Cannot create table " + def.Name + ": " + ec.message() + " (" + impl.What() + ")");
        }
    } catch (...) {
        removeTemporary();
        throw;
    }
}

std::vector<std::string> ListTables(TDbConnection& connection) {
    detail::WriteGroups::CommitAll();
    connection.Connect();
    auto& impl = connection.Impl();
    if (impl.Dictionary()) return detail::TableNamesIn(impl.DictHandle(), "main");
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(impl.Path(), ec)) {
        auto p = entry.path();
        if (entry.is_regular_file(ec) && Upper(p.extension().string()) == ".ADT") {
            names.push_back(p.stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TTableDef ReadTableDef(TDbConnection& connection, const std::string& table,
                       const std::string& password) {
    detail::WriteGroups::CommitAll();
    connection.Connect();
    auto& impl = connection.Impl();
    if (impl.Dictionary()) return detail::ReadTableDefFrom(impl.DictHandle(), "main", table);
    std::string file = impl.TableFile(table);
    if (file.empty()) {
        throw EDbDatabaseError(TDbErrorCode::TableNotFound,
                               "Table " + table + " not found (" + impl.What() + ")");
    }
    detail::Handle h(file, false, "table " + table + " (" + impl.What() + ")");
    if (!detail::IsPlainDatabaseFile(file)) {
        if (password.empty()) {
            throw EDbDatabaseError(TDbErrorCode::PasswordRequired,
                                   "Table " + table +
                                       " is encrypted: the table password is "
                                       "required (" +
                                       impl.What() + ")");
        }
        h.Key(detail::RawKeyFor(password));
    }
    return detail::ReadTableDefFrom(h, "main", table);
}

void CreateDictionary(const std::string& path, const std::vector<TDictionaryUser>& users,
                      TDictionaryStorage storage) {
    std::string file = NormalizePath(path);
    std::error_code ec;
    if (fs::exists(file, ec)) {
        throw EDbDatabaseError(TDbErrorCode::General, "Data dictionary exists already: " + path);
    }
    const bool encrypted = storage == TDictionaryStorage::Encrypted;
    const std::string keysFile = detail::KeysFileOf(file);
    auto removeMade = [&] {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(file + suffix, ec);
        if (encrypted) fs::remove(keysFile, ec);
    };
    std::string raw;
    try {
        auto parent = fs::path(file).parent_path();
        try {
            if (!parent.empty()) support::CreatePrivateFolders(parent.string());
            support::CreatePrivateFile(file);
        } catch (const std::runtime_error& e) {
            throw EDbDatabaseError(TDbErrorCode::FileError, e.what());
        }
        if (encrypted) {
            // The keys first: an encrypted file without them could never be opened.
            const detail::TDictionaryKey key = detail::TDictionaryKey::Random();
            std::vector<detail::TWrappedKey> entries;
            for (const auto& u : users) entries.push_back(detail::WrapKey(key, u.Name, u.Password));
            detail::WriteKeysFile(keysFile, entries);
            raw = key.RawKey();
        }
        {
            detail::Handle h(file, false, "database " + path);
            if (encrypted) h.Key(raw);
            h.Exec("PRAGMA journal_mode=WAL");
            h.Exec("BEGIN");
            h.Exec(std::string("CREATE TABLE ") + detail::kUsersTable +
                   " (NAME TEXT PRIMARY KEY, HASH TEXT NOT NULL)");
            for (const auto& u : users) {
                auto s = h.PrepareOnce(std::string("INSERT INTO ") + detail::kUsersTable +
                                       " VALUES (?1, ?2)");
                s->Bind(1, TDbValue(u.Name));
                s->Bind(2, TDbValue(detail::HashUserPassword(u.Password)));
                s->Step();
            }
            h.Exec("COMMIT");
        }
        if (encrypted && detail::IsPlainDatabaseFile(file)) {
            throw EDbDatabaseError(TDbErrorCode::FileError,
                                   "The data dictionary " + path + " was not encrypted");
        }
    } catch (...) {
        detail::WipeText(raw);
        removeMade();
        throw;
    }
    detail::WipeText(raw);
}

}  // namespace peltorn::db
