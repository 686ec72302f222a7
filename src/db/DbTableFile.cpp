// The operations of TDbTable on its table file: the table password, encrypting the file,
// flushing posted records to disk and packing. Each needs the table to itself for a moment
// (exclusive use of its lock) and leaves the cursor on the record it stood on.
#include "db/TableCursor.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace peltorn::db {

using detail::Handle;

void TDbTable::EnableEncryption(const std::string& password) {
    CheckActive();
    if (m_cursor->Conn.Dictionary()) return;
    if (m_cursor->Readable) {
        // A plain table keeps its records plain; the password is remembered for EncryptTable.
        if (!m_cursor->Encrypted) m_cursor->Password = password;
        return;
    }
    m_cursor->UsePassword(password);
    m_cursor->LoadDef(m_tableName);
    m_cursor->ResolveOrder(m_indexFieldNames, m_indexName);
    std::vector<FieldInfo> fields;
    for (const auto& f : m_cursor->Def.Fields) fields.push_back({f.Name, f.Type, f.Size});
    DefineFields(fields);
    First();
}

bool TDbTable::IsTableEncrypted() {
    CheckActive();
    if (m_cursor->Conn.Dictionary()) return false;
    return !detail::IsPlainDatabaseFile(m_cursor->File);
}

void TDbTable::EncryptTable() {
    RequireReadable();
    auto& c = *m_cursor;
    if (c.Conn.Dictionary() || IsTableEncrypted()) return;
    if (c.Password.empty()) {
        throw EDbDatabaseError(TDbErrorCode::PasswordRequired,
                               "Table " + m_tableName +
                                   " cannot be encrypted without a password (" + c.Conn.What() +
                                   ")");
    }
    Post();
    detail::WriteGroups::CommitAll();
    bool wasExclusive = c.Lock->IsExclusive();
    if (!c.Lock->TryExclusive()) {
        throw EDbDatabaseError(TDbErrorCode::TableInUse,
                               "Table " + m_tableName +
                                   " cannot be encrypted: it is in use by "
                                   "another user (" +
                                   c.Conn.What() + ")");
    }
    std::int64_t ordinal = m_hasRecord ? c.Ordinal() : -1;
    detail::AttachmentRegistry::ReleaseEverywhere(c.File);
    c.Own.reset();
    c.H = nullptr;
    const std::string& key = detail::RawKeyFor(c.Password);
    std::string tmp = c.File + ".encrypting";
    std::error_code ec;
    fs::remove(tmp, ec);
    try {
        {
            Handle plain(c.File, true, c.What);  // create: ATTACH makes the new file
            plain.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
            auto attach = plain.PrepareOnce("ATTACH DATABASE ?1 AS enc KEY ?2");
            attach->Bind(1, TDbValue(tmp));
            attach->Bind(2, TDbValue(key));
            attach->Step();
            attach.reset();
            plain.Exec("SELECT sqlcipher_export('enc')");
            plain.Exec("DETACH DATABASE enc");
        }
        {
            Handle check(tmp, false, c.What);
            check.Key(key);
            check.Exec("PRAGMA journal_mode=WAL");
        }
        if (detail::IsPlainDatabaseFile(tmp)) {
            throw EDbDatabaseError(TDbErrorCode::FileError,
                                   "Encrypting " + c.What + " left the records plain");
        }
        fs::rename(tmp, c.File, ec);
        if (ec) {
            throw EDbDatabaseError(TDbErrorCode::FileError, "Encrypting " + c.What +
                                                                ": the encrypted file cannot "
                                                                "replace the plain one: " +
                                                                ec.message());
        }
        fs::remove(c.File + "-wal", ec);
        fs::remove(c.File + "-shm", ec);
        // The file is a new one now: the table's lock moves to it, exclusive as before.
        auto lock = std::make_unique<detail::TableLock>(c.File, m_tableName, true, c.Conn.What());
        c.Lock = std::move(lock);
    } catch (...) {
        fs::remove(tmp, ec);
        c.Own = std::make_unique<Handle>(c.File, false, c.What);
        c.H = c.Own.get();
        if (!wasExclusive) c.Lock->Share();
        throw;
    }
    c.Encrypted = true;
    c.UsePassword(c.Password);
    if (!wasExclusive) c.Lock->Share();
    if (ordinal >= 0) c.ReloadOrdinal(ordinal);
}

void TDbTable::FlushFileBuffers() {
    CheckActive();
    Post();
    if (m_cursor->H) detail::WriteGroups::CommitHandle(*m_cursor->H);
    if (m_cursor->Readable && !m_cursor->Conn.Dictionary()) {
        m_cursor->H->Exec("PRAGMA wal_checkpoint(PASSIVE)");
    }
}

void TDbTable::PackTable() {
    RequireReadable();
    Post();
    detail::WriteGroups::CommitAll();
    auto& c = *m_cursor;
    bool wasExclusive = c.Lock->IsExclusive();
    if (!c.Lock->TryExclusive()) {
        throw EDbDatabaseError(TDbErrorCode::TableInUse, "Table " + m_tableName +
                                                             " cannot be packed: it is in use by "
                                                             "another user (" +
                                                             c.Conn.What() + ")");
    }
    std::int64_t ordinal = m_hasRecord ? c.Ordinal() : -1;
    try {
        if (!c.Conn.Dictionary()) c.H->Exec("VACUUM");
    } catch (...) {
        if (!wasExclusive) c.Lock->Share();
        throw;
    }
    c.H->ClearCache();
    if (!wasExclusive) c.Lock->Share();
    if (ordinal >= 0) c.ReloadOrdinal(ordinal);
}

}  // namespace peltorn::db
