// Encrypting a plain data dictionary in place, and telling encrypted dictionaries from plain ones.
#include "db/DbDictionary.h"

#include "db/DbInternal.h"
#include "db/DictionaryKeys.h"
#include "support/PrivateFiles.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace peltorn::db {

using detail::Handle;

bool IsEncryptedDictionary(const std::string& path) {
    const std::string file = NormalizePath(path);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return false;
    return !detail::IsPlainDatabaseFile(file);
}

namespace {

// The tables of a handle's main database with their rows, and its schema entries (type, name,
// statement), for comparing the encrypted copy with the plain file.
struct TContents {
    std::map<std::string, std::int64_t> Rows;
    std::vector<std::string> Schema;
};

TContents ContentsOf(Handle& h) {
    TContents c;
    std::vector<std::string> tables;
    {
        auto s = h.PrepareOnce(
            "SELECT type, name, coalesce(sql, '') FROM main.sqlite_master ORDER BY type, name");
        while (s->Step()) {
            c.Schema.push_back(s->Column(0).Text() + " " + s->Column(1).Text() + " " +
                               s->Column(2).Text());
            if (s->Column(0).Text() == "table") tables.push_back(s->Column(1).Text());
        }
    }
    for (const auto& t : tables) {
        auto s = h.PrepareOnce("SELECT count(*) FROM main." + detail::QuoteIdent(t));
        s->Step();
        c.Rows[t] = s->Column(0).Integer();
    }
    return c;
}

void RemoveFiles(const std::vector<std::string>& files) noexcept {
    std::error_code ec;
    for (const auto& f : files) fs::remove(f, ec);
}

std::string FolderOf(const std::string& file) {
    fs::path parent = fs::path(file).parent_path();
    return parent.empty() ? "." : parent.string();
}

void Rename(const std::string& from, const std::string& to, const std::string& path) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec)
        throw EDbDatabaseError(TDbErrorCode::FileError, "Encrypting the data dictionary " + path +
                                                            ": cannot rename " + from + " to " +
                                                            to + ": " + ec.message());
}

}  // namespace

TSecuredDictionary SecureDictionary(const std::string& path, const std::string& user,
                                    const std::string& password,
                                    const std::vector<TDictionaryUser>& otherPasswords,
                                    const std::function<void(const char* step)>& onStep) {
    const std::string file = NormalizePath(path);
    const std::string what = "database " + path;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        throw EDbDatabaseError(TDbErrorCode::DatabaseNotFound,
                               "Data dictionary not found: " + path);
    if (!detail::IsPlainDatabaseFile(file))
        throw EDbDatabaseError(TDbErrorCode::General,
                               "The data dictionary " + path + " is encrypted already");
    auto step = [&onStep](const char* name) {
        if (onStep) onStep(name);
    };
    detail::WriteGroups::CommitAll();

    const std::string tmp = file + ".encrypting";
    const std::string keys = detail::KeysFileOf(file);
    const std::string keysTmp = keys + ".encrypting";
    // Left by an earlier attempt that was killed; they never open anything.
    const std::vector<std::string> temporaries = {tmp, tmp + "-journal", tmp + "-wal", tmp + "-shm",
                                                  keysTmp};
    RemoveFiles(temporaries);

    Handle plain(file, false, what);

    // The users and the credentials.
    std::vector<std::pair<std::string, std::string>> users;  // name, password hash
    try {
        auto s = plain.PrepareOnce(std::string("SELECT NAME, HASH FROM ") + detail::kUsersTable +
                                   " ORDER BY rowid");
        while (s->Step()) users.emplace_back(s->Column(0).Text(), s->Column(1).Text());
    } catch (const EDbDatabaseError&) {
        throw EDbDatabaseError(TDbErrorCode::NotADatabase,
                               "The file is not a data dictionary: " + path);
    }
    auto signedOn = std::find_if(users.begin(), users.end(), [&](const auto& u) {
        return detail::EqualsNoCase(u.first, user);
    });
    if (signedOn == users.end() || !detail::CheckUserPassword(password, signedOn->second))
        throw EDbDatabaseError(TDbErrorCode::LoginRefused, detail::LoginRefusedText(user, path));
    std::vector<TDictionaryUser> holders;  // each user with the password that is theirs
    std::string unknown;
    for (const auto& [name, hash] : users) {
        if (detail::EqualsNoCase(name, user)) {
            holders.push_back({name, password});
            continue;
        }
        auto known = std::find_if(otherPasswords.begin(), otherPasswords.end(), [&](const auto& o) {
            return detail::EqualsNoCase(o.Name, name) &&
                   detail::CheckUserPassword(o.Password, hash);
        });
        if (known == otherPasswords.end())
            unknown += (unknown.empty() ? "" : ", ") + name;
        else
            holders.push_back({name, known->Password});
    }
    if (!unknown.empty()) {
        throw EDbDatabaseError(TDbErrorCode::LoginRefused,
                               "The password of user " + unknown + " of data dictionary " + path +
                                   " is not known, so that user could not be given the key; "
                                   "nothing was changed");
    }

    // The dictionary to ourselves until it is replaced: out of WAL mode (which needs every other
    // connection closed and folds the journal into the file), then an exclusive lock that is
    // kept until the handle closes, so that nobody reads or writes the plain file meanwhile.
    try {
        plain.Exec("PRAGMA busy_timeout=500");
        auto mode = plain.PrepareOnce("PRAGMA journal_mode=DELETE");
        const bool changed = mode->Step() && mode->Column(0).Text() == "delete";
        mode.reset();
        if (!changed) throw EDbDatabaseError(TDbErrorCode::TableInUse, "journal in use");
        plain.Exec("PRAGMA locking_mode=EXCLUSIVE");
        plain.Exec("BEGIN EXCLUSIVE");
        plain.Exec("COMMIT");
    } catch (const EDbDatabaseError& e) {
        if (e.Code() != TDbErrorCode::TableInUse) throw;
        throw EDbDatabaseError(TDbErrorCode::TableInUse,
                               "The data dictionary " + path +
                                   " is in use by another user: it can be encrypted only while "
                                   "nobody else has it open; nothing was changed");
    }

    const detail::TDictionaryKey key = detail::TDictionaryKey::Random();
    std::string raw = key.RawKey();
    TSecuredDictionary result;
    bool keysInPlace = false;
    try {
        try {
            support::CreatePrivateFile(tmp);
        } catch (const std::runtime_error& e) {
            throw EDbDatabaseError(TDbErrorCode::FileError, e.what());
        }
        {
            auto attach = plain.PrepareOnce("ATTACH DATABASE ?1 AS enc KEY ?2");
            attach->Bind(1, TDbValue(tmp));
            attach->Bind(2, TDbValue(raw));
            attach->Step();
        }
        plain.Exec("SELECT sqlcipher_export('enc')");
        plain.Exec("DETACH DATABASE enc");

        const TContents before = ContentsOf(plain);
        {
            Handle check(tmp, false, what);
            check.Key(raw);
            const TContents after = ContentsOf(check);
            if (after.Schema != before.Schema || after.Rows != before.Rows) {
                throw EDbDatabaseError(TDbErrorCode::FileError,
                                       "Encrypting the data dictionary " + path +
                                           ": the encrypted copy does not hold the same tables "
                                           "and rows; nothing was changed");
            }
        }
        if (detail::IsPlainDatabaseFile(tmp)) {
            throw EDbDatabaseError(TDbErrorCode::FileError, "Encrypting the data dictionary " +
                                                                path + " left its records plain");
        }
        detail::SyncPath(tmp, "the encrypted data dictionary");
        step("exported");

        std::vector<detail::TWrappedKey> entries;
        for (const auto& h : holders) {
            entries.push_back(detail::WrapKey(key, h.Name, h.Password));
            result.Users.push_back(h.Name);
        }
        detail::WriteKeysFile(keysTmp, entries);
        step("keys-written");

        // The keys first: beside the plain file they change nothing, and once the encrypted file
        // is in place its keys are there already.
        Rename(keysTmp, keys, path);
        keysInPlace = true;
        detail::SyncPath(FolderOf(file), "the folder of the data dictionary");
        step("keys-renamed");
        Rename(tmp, file, path);
        keysInPlace = false;
        detail::SyncPath(FolderOf(file), "the folder of the data dictionary");
        step("renamed");
        // Out of WAL mode the plain file left no journal files; none may stand beside the new
        // file either.
        RemoveFiles({file + "-wal", file + "-shm", file + "-journal"});

        for (const auto& [table, rows] : before.Rows) {
            if (detail::EqualsNoCase(table, detail::kUsersTable) || table.rfind("sqlite_", 0) == 0)
                continue;
            result.Tables.emplace_back(table, rows);
        }
    } catch (...) {
        detail::WipeText(raw);
        RemoveFiles(temporaries);
        if (keysInPlace) RemoveFiles({keys});
        throw;
    }
    detail::WipeText(raw);
    return result;
}

}  // namespace peltorn::db
