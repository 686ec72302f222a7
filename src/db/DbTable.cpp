// TDbTable: a live, indexed cursor over one table.
//
// The cursor holds one record: its rowid and its values. Every move is one indexed query for the
// next record in the active order, seen from the current record's key:
//
//     SELECT rowid, <fields> FROM t WHERE <master> AND <filter> AND (<key>, rowid) > (<current>)
//     ORDER BY <key>, rowid LIMIT 1
//
// so the table is never copied into memory and a move costs one index seek, whatever the size of
// the table. The rowid breaks ties between equal keys, which makes the order total and lets the
// cursor step over duplicates. No statement is left open between calls: an open read would hold
// back the commit of the next write on the same handle, and a posted record must be written at
// once.
//
// A free table has a handle of its own on its .ADT file (keyed with the table password when the
// file is encrypted); a dictionary table shares the connection's handle on the .ADD file. While
// open, the table holds a shared advisory lock (exclusive for Exclusive opens, packing and
// encrypting), so that exclusive use is refused while anybody else has the table open.
#include "db/DbTable.h"

#include "db/DbConnection.h"
#include "db/DbInternal.h"
#include "db/DbSettings.h"

#include <sqlcipher/sqlite3.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;

namespace peltorn::db {

using detail::EqualsNoCase;
using detail::Handle;
using detail::QuoteIdent;
using detail::ScopedStmt;
using detail::Stmt;

namespace {
const char* kOpenDataset = "Cannot perform this operation on an open dataset";
const char* kNoIndex =
    "An index must be active to perform this operation. Set the IndexName property.";
const char* kTooManyValues = "Too many values given for current index";
}  // namespace

namespace detail {

class TableCursor {
public:
    TDbTable& T;
    ConnectionImpl& Conn;
    std::string What;  // "table X (database P)"
    std::string File;  // the .ADT file, or the .ADD file of a dictionary
    std::unique_ptr<Handle> Own;
    Handle* H = nullptr;
    std::unique_ptr<TableLock> Lock;
    bool Encrypted = false;
    bool Readable = false;
    std::string Password;  // the password records are read and written with
    TTableDef Def;
    std::string Quoted;      // "TABLE"
    std::string SelectList;  // rowid, "F1", ...
    std::string RowIdSql;    // the record of one rowid
    std::vector<int> Order;  // field positions of the active order
    int KeyCount = 0;        // fields FindKey may fill
    std::int64_t RowId = 0;
    std::vector<TDbValue> Key;  // the current record's values of Order
    // The statement text of the last post: a run posts record after record with the same fields
    // assigned, so the text is formed again only when the assigned fields change.
    std::vector<bool> PostFields;
    bool PostInsert = false;
    std::string PostSql;

    TableCursor(TDbTable& table, ConnectionImpl& conn) : T(table), Conn(conn) {}

    void OpenFile(const std::string& name, bool exclusive) {
        What = "table " + name + " (" + Conn.What() + ")";
        if (Conn.Dictionary()) {
            std::string stored = Conn.StoredTableName(name);
            if (stored.empty()) {
                throw EDbDatabaseError(TDbErrorCode::TableNotFound,
                                       "Table " + name + " not found (" + Conn.What() + ")");
            }
            File = Conn.Path();
            Lock = std::make_unique<TableLock>(File, stored, exclusive, Conn.What());
            H = &Conn.DictHandle();
            Readable = true;
            return;
        }
        File = Conn.TableFile(name);
        if (File.empty()) {
            throw EDbDatabaseError(TDbErrorCode::TableNotFound,
                                   "Table " + name + " not found (" + Conn.What() + ")");
        }
        Lock = std::make_unique<TableLock>(File, name, exclusive, Conn.What());
        Own = std::make_unique<Handle>(File, false, What);
        H = Own.get();
        Encrypted = !IsPlainDatabaseFile(File);
        Readable = !Encrypted;
        if (Readable) Own->Exec("PRAGMA synchronous=NORMAL");
    }

    // A new handle on the file in place of the old one, whose posted records are committed
    // first (a failure is raised, not lost with the old handle).
    void Reopen() {
        if (Own) WriteGroups::CommitHandle(*Own);
        Own = std::make_unique<Handle>(File, false, What);
        H = Own.get();
    }

    // Keys the handle with password and checks that the records can be read.
    void UsePassword(const std::string& password) {
        Reopen();
        Own->Key(RawKeyFor(password));
        try {
            Own->Exec("SELECT count(*) FROM sqlite_master");
        } catch (const EDbDatabaseError& e) {
            Reopen();
            // Only a file that looks like an encrypted table and refuses the key is taken for a
            // wrong password; a damaged file, a full disk or a read-only folder say what they are.
            if (e.Code() == TDbErrorCode::NotADatabase && LooksEncrypted(File))
                throw EDbDatabaseError(TDbErrorCode::WrongPassword, "Wrong table password for " + What);
            throw;
        }
        Own->Exec("PRAGMA synchronous=NORMAL");
        Password = password;
        Readable = true;
    }

    void LoadDef(const std::string& name) {
        Def = ReadTableDefFrom(*H, "main", name);
        Quoted = QuoteIdent(Def.Name);
        SelectList = "rowid";
        for (const auto& f : Def.Fields) SelectList += ", " + QuoteIdent(f.Name);
        RowIdSql = "SELECT " + SelectList + " FROM " + Quoted + " WHERE rowid = ?";
    }

    int FieldPos(const std::string& name) const {
        for (std::size_t i = 0; i < Def.Fields.size(); ++i)
            if (EqualsNoCase(Def.Fields[i].Name, name)) return static_cast<int>(i);
        return -1;
    }

    // Resolves the active order from IndexFieldNames or IndexName.
    void ResolveOrder(const std::string& fieldNames, const std::string& indexName) {
        Order.clear();
        KeyCount = 0;
        if (!indexName.empty()) {
            for (const auto& idx : Def.Indexes) {
                if (EqualsNoCase(idx.Name, indexName)) {
                    for (const auto& f : idx.Fields) Order.push_back(FieldPos(f));
                    KeyCount = static_cast<int>(Order.size());
                    return;
                }
            }
            throw EDbDatabaseError(TDbErrorCode::IndexNotFound,
                                   "Index " + indexName + " not found for " + What);
        }
        auto wanted = SplitFieldList(fieldNames);
        if (wanted.empty()) return;
        for (const auto& idx : Def.Indexes) {
            if (idx.Fields.size() < wanted.size()) continue;
            bool match = true;
            for (std::size_t i = 0; i < wanted.size() && match; ++i)
                match = EqualsNoCase(idx.Fields[i], wanted[i]);
            if (!match) continue;
            // Order by the whole index so that the index serves the order.
            for (const auto& f : idx.Fields) Order.push_back(FieldPos(f));
            KeyCount = static_cast<int>(wanted.size());
            return;
        }
        throw EDbDatabaseError(TDbErrorCode::IndexNotFound,
                               "No index on the fields " + fieldNames + " for " + What);
    }

    std::string Col(int pos) const { return QuoteIdent(Def.Fields[static_cast<std::size_t>(pos)].Name); }

    bool IsCharacter(int pos) const {
        TFieldType type = Def.Fields[static_cast<std::size_t>(pos)].Type;
        return type == TFieldType::ftString || type == TFieldType::ftMemo;
    }

    // The condition "field pos equals v". A null character field reads as empty text, so for a
    // character field null and empty text match each other; both stay index lookups (a null
    // sorts just before the empty text).
    void Equals(int pos, const TDbValue& v, std::vector<std::string>& conds,
                std::vector<TDbValue>& params) const {
        const bool empty = v.IsNull() || (v.IsText() && v.Text().empty());
        if (empty && IsCharacter(pos)) {
            conds.push_back("(" + Col(pos) + " IS NULL OR " + Col(pos) + " = '')");
        } else if (v.IsNull()) {
            conds.push_back(Col(pos) + " IS NULL");
        } else {
            conds.push_back(Col(pos) + " = ?");
            params.push_back(v);
        }
    }

    // Conditions every visible record meets: master link and filter condition.
    void BaseWhere(std::vector<std::string>& conds, std::vector<TDbValue>& params) const;

    std::string OrderBy(bool desc) const {
        std::string out = " ORDER BY ";
        for (int pos : Order) out += Col(pos) + (desc ? " DESC, " : ", ");
        return out + (desc ? "rowid DESC" : "rowid");
    }

    // Condition "after (or before) the current record in the active order".
    void Beyond(bool after, std::vector<std::string>& conds, std::vector<TDbValue>& params) const {
        bool anyNull = std::any_of(Key.begin(), Key.end(), [](const TDbValue& v) { return v.IsNull(); });
        const char* op = after ? ">" : "<";
        // The row-value comparison is exact only forwards from a key without nulls: a record
        // that is null in a later key field compares as unknown, which is right after (a null
        // sorts first) but would drop that record before. Backwards the order is spelt out.
        if (Order.empty()) {
            conds.push_back(std::string("rowid ") + op + " ?");
            params.push_back(TDbValue(RowId));
            return;
        }
        if (!anyNull && after) {
            std::string lhs = "(", rhs = "(";
            for (int pos : Order) {
                lhs += Col(pos) + ", ";
                rhs += "?, ";
            }
            conds.push_back(lhs + "rowid) " + op + " " + rhs + "?)");
            for (const auto& v : Key) params.push_back(v);
            params.push_back(TDbValue(RowId));
            return;
        }
        // A key with nulls: nulls sort first, and a comparison with null is never true, so the
        // order is spelt out term by term.
        std::string any;
        std::string prefix;
        std::vector<TDbValue> prefixParams;
        for (std::size_t i = 0; i < Order.size(); ++i) {
            std::string c = Col(Order[i]);
            const TDbValue& v = Key[i];
            std::string term;
            std::vector<TDbValue> termParams = prefixParams;
            if (v.IsNull()) term = after ? c + " IS NOT NULL" : "0";
            else {
                term = after ? c + " > ?" : "(" + c + " < ? OR " + c + " IS NULL)";
                termParams.push_back(v);
            }
            any += (any.empty() ? "(" : " OR (") + prefix + term + ")";
            for (auto& p : termParams) params.push_back(p);
            prefix += (v.IsNull() ? c + " IS NULL" : c + " = ?") + std::string(" AND ");
            if (!v.IsNull()) prefixParams.push_back(v);
        }
        any += " OR (" + prefix + std::string("rowid ") + op + " ?)";
        for (auto& p : prefixParams) params.push_back(p);
        params.push_back(TDbValue(RowId));
        conds.push_back("(" + any + ")");
    }

    std::string Select(const std::vector<std::string>& conds, bool desc, bool limit) const {
        std::string sql = "SELECT " + SelectList + " FROM " + Quoted;
        for (std::size_t i = 0; i < conds.size(); ++i) sql += (i ? " AND " : " WHERE ") + conds[i];
        return sql + OrderBy(desc) + (limit ? " LIMIT 1" : "");
    }

    void Load(Stmt& s) {
        RowId = s.Column(0).Integer();
        for (std::size_t i = 0; i < Def.Fields.size(); ++i) T.m_buffer[i] = s.Column(static_cast<int>(i + 1));
        Key.clear();
        for (int pos : Order) Key.push_back(T.m_buffer[static_cast<std::size_t>(pos)]);
        T.m_hasRecord = true;
    }

    // Runs the selection and makes its first accepted record current. Returns false (and leaves
    // the current record as it was) when there is none.
    // Another handle's uncommitted posts into this file must be written before this one reads.
    void Sync() const { WriteGroups::CommitFile(File, H); }

    bool SeekFirst(const std::vector<std::string>& conds, const std::vector<TDbValue>& params, bool desc) {
        Sync();
        bool handler = T.m_filtered && T.OnFilterRecord;
        Stmt& s = H->Prepare(Select(conds, desc, !handler));
        ScopedStmt scoped(s);
        s.BindAll(params);
        if (!handler) {
            if (!s.Step()) return false;
            Load(s);
            return true;
        }
        auto savedBuffer = T.m_buffer;
        auto savedKey = Key;
        auto savedRow = RowId;
        bool savedHas = T.m_hasRecord;
        while (s.Step()) {
            Load(s);
            if (T.OnFilterRecord(T)) return true;
        }
        T.m_buffer = savedBuffer;
        Key = savedKey;
        RowId = savedRow;
        T.m_hasRecord = savedHas;
        return false;
    }

    bool LoadRowId(std::int64_t rowid) {
        Sync();
        Stmt& s = H->Prepare(RowIdSql);
        ScopedStmt scoped(s);
        s.Bind(1, TDbValue(rowid));
        if (!s.Step()) return false;
        Load(s);
        return true;
    }

    // The position of the current record counted in rowid order (rowids may be renumbered when
    // the file is rewritten; the natural order is kept).
    std::int64_t Ordinal() {
        Stmt& s = H->Prepare("SELECT count(*) FROM " + Quoted + " WHERE rowid < ?");
        ScopedStmt scoped(s);
        s.Bind(1, TDbValue(RowId));
        s.Step();
        return s.Column(0).Integer();
    }
    void ReloadOrdinal(std::int64_t ordinal) {
        Stmt& s = H->Prepare("SELECT rowid FROM " + Quoted + " ORDER BY rowid LIMIT 1 OFFSET ?");
        ScopedStmt scoped(s);
        s.Bind(1, TDbValue(ordinal));
        if (s.Step()) {
            std::int64_t r = s.Column(0).Integer();
            s.Reset();
            LoadRowId(r);
        } else {
            T.m_hasRecord = false;
        }
    }

    // Values as the table stores them, from key texts.
    TDbValue KeyValue(int pos, const std::string& text) const {
        const TFieldDef& f = Def.Fields[static_cast<std::size_t>(pos)];
        std::string t = text;
        switch (f.Type) {
            case TFieldType::ftString:
            case TFieldType::ftMemo: {
                while (!t.empty() && t.back() == ' ') t.pop_back();
                t = CutToWidth(t, f.Size);
                while (!t.empty() && t.back() == ' ') t.pop_back();
                return TDbValue(t);
            }
            default: break;
        }
        return ConvertByType(f, t);
    }

    static TDbValue ConvertByType(const TFieldDef& f, const std::string& text);
};

TDbValue TableCursor::ConvertByType(const TFieldDef& f, const std::string& text) {
    std::string t = text;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    while (!t.empty() && t.front() == ' ') t.erase(t.begin());
    if (t.empty()) return TDbValue();
    try {
        switch (f.Type) {
            case TFieldType::ftSmallint:
            case TFieldType::ftInteger:
            case TFieldType::ftAutoInc: {
                std::size_t used = 0;
                long long v = std::stoll(t, &used);
                if (used != t.size()) throw std::invalid_argument(t);
                return TDbValue(static_cast<std::int64_t>(v));
            }
            case TFieldType::ftFloat: {
                std::size_t used = 0;
                double v = std::stod(t, &used);
                if (used != t.size()) throw std::invalid_argument(t);
                return TDbValue(v);
            }
            case TFieldType::ftCurrency: {
                std::size_t used = 0;
                double v = std::stod(t, &used);
                if (used != t.size()) throw std::invalid_argument(t);
                return TDbValue(TCurrency::FromDouble(v).ToDouble());
            }
            case TFieldType::ftDate: return TDbValue(FormatIsoDate(ParseDate(t)));
            case TFieldType::ftBoolean: {
                std::string u = Upper(t);
                return TDbValue(u == "T" || u == "TRUE" || u == "Y" || u == "1" ? 1 : 0);
            }
            default: return TDbValue(t);
        }
    } catch (const std::exception&) {
        throw EDbDatasetError("'" + text + "' is not a valid value for field " + f.Name);
    }
}

void TableCursor::BaseWhere(std::vector<std::string>& conds, std::vector<TDbValue>& params) const {
    if (T.m_master) {
        auto masterFields = SplitFieldList(T.m_masterFields);
        if (!T.m_master->Active() || !T.m_master->HasCurrentRecord() ||
            T.m_master->State() == TDataSetState::dsInsert) {
            conds.push_back("0");
        } else {
            for (std::size_t i = 0; i < masterFields.size() && i < Order.size(); ++i) {
                TDbValue v = T.m_master->FieldByName(masterFields[i]).AsVariant();
                Equals(Order[i], v, conds, params);
            }
        }
    }
    if (T.m_filtered && !T.m_filter.empty()) conds.push_back("(" + T.m_filter + ")");
}

}  // namespace detail

// ---- TDbTable ----

TDbTable::TDbTable(std::string name) : TDataSet(std::move(name)) {}

TDbTable::~TDbTable() {
    if (m_master) m_master->RemoveDetail(this);
    m_cursor.reset();
}

void TDbTable::SetTableName(const std::string& table) {
    if (Active()) throw EDbDatasetError(kOpenDataset);
    m_tableName = table;
}

void TDbTable::SetExclusive(bool exclusive) {
    if (Active()) throw EDbDatasetError(kOpenDataset);
    m_exclusive = exclusive;
}

void TDbTable::SetIndexFieldNames(const std::string& fields) {
    m_indexFieldNames = fields;
    if (!fields.empty()) m_indexName.clear();
    if (Active() && m_cursor && m_cursor->Readable) {
        Post();
        m_cursor->ResolveOrder(m_indexFieldNames, m_indexName);
        if (m_hasRecord) m_cursor->LoadRowId(m_cursor->RowId);
    }
}

void TDbTable::SetIndexName(const std::string& tag) {
    m_indexName = tag;
    if (!tag.empty()) m_indexFieldNames.clear();
    if (Active() && m_cursor && m_cursor->Readable) {
        Post();
        m_cursor->ResolveOrder(m_indexFieldNames, m_indexName);
        if (m_hasRecord) m_cursor->LoadRowId(m_cursor->RowId);
    }
}

void TDbTable::SetFiltered(bool filtered) {
    if (filtered == m_filtered) return;
    m_filtered = filtered;
    if (Active() && m_cursor && m_cursor->Readable) First();
}

void TDbTable::SetFilter(const std::string& condition) {
    m_filter = condition;
    if (Active() && m_filtered && m_cursor && m_cursor->Readable) First();
}

void TDbTable::SetMasterSource(TDataSet* master, const std::string& masterFields) {
    if (m_master) m_master->RemoveDetail(this);
    m_master = master;
    m_masterFields = masterFields;
    if (m_master) m_master->AddDetail(this);
}

void TDbTable::MasterMoved() {
    if (!Active() || !m_cursor || !m_cursor->Readable) return;
    if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) Post();
    First();
}

void TDbTable::RequireReadable() const {
    CheckActive();
    if (!m_cursor->Readable) {
        throw EDbDatabaseError(TDbErrorCode::PasswordRequired,
                               "Table " + m_tableName +
                                   " is encrypted: its records cannot be read or written without "
                                   "the table password (" + m_cursor->Conn.What() + ")");
    }
}

void TDbTable::DoOpen() {
    if (m_tableName.empty()) throw EDbDatasetError("No table name given for " + Name());
    auto cursor = std::make_unique<detail::TableCursor>(*this, m_connection->Impl());
    cursor->OpenFile(m_tableName, m_exclusive);
    if (!cursor->Readable && !EncryptionPassword.empty()) cursor->UsePassword(EncryptionPassword);
    m_cursor = std::move(cursor);
    m_hasRecord = false;
    m_eof = m_bof = true;
    if (m_cursor->Readable) {
        try {
            m_cursor->LoadDef(m_tableName);
            m_cursor->ResolveOrder(m_indexFieldNames, m_indexName);
        } catch (...) {
            m_cursor.reset();
            throw;
        }
        std::vector<FieldInfo> fields;
        for (const auto& f : m_cursor->Def.Fields) fields.push_back({f.Name, f.Type, f.Size});
        DefineFields(fields);
        m_state = TDataSetState::dsBrowse;
        First();
    }
}

void TDbTable::DoClose() {
    // The cursor goes whatever happens; a commit that fails is raised after it is gone.
    std::unique_ptr<detail::TableCursor> cursor = std::move(m_cursor);
    if (cursor && cursor->H) detail::WriteGroups::CommitHandle(*cursor->H);
}

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
                               "Table " + m_tableName + " cannot be encrypted without a password (" +
                                   c.Conn.What() + ")");
    }
    Post();
    detail::WriteGroups::CommitAll();
    bool wasExclusive = c.Lock->IsExclusive();
    if (!c.Lock->TryExclusive()) {
        throw EDbDatabaseError(TDbErrorCode::TableInUse,
                               "Table " + m_tableName + " cannot be encrypted: it is in use by "
                               "another user (" + c.Conn.What() + ")");
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
        throw EDbDatabaseError(TDbErrorCode::TableInUse,
                               "Table " + m_tableName + " cannot be packed: it is in use by "
                               "another user (" + c.Conn.What() + ")");
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

void TDbTable::First() {
    RequireReadable();
    Post();
    std::vector<std::string> conds;
    std::vector<TDbValue> params;
    m_cursor->BaseWhere(conds, params);
    bool found = m_cursor->SeekFirst(conds, params, false);
    if (!found) m_hasRecord = false;
    m_eof = !found;
    m_bof = true;
    RecordChanged();
}

void TDbTable::Last() {
    RequireReadable();
    Post();
    std::vector<std::string> conds;
    std::vector<TDbValue> params;
    m_cursor->BaseWhere(conds, params);
    bool found = m_cursor->SeekFirst(conds, params, true);
    if (!found) m_hasRecord = false;
    m_eof = true;
    m_bof = !found;
    RecordChanged();
}

void TDbTable::Next() {
    RequireReadable();
    Post();
    if (!m_hasRecord) {
        m_eof = true;
        return;
    }
    std::vector<std::string> conds;
    std::vector<TDbValue> params;
    m_cursor->BaseWhere(conds, params);
    m_cursor->Beyond(true, conds, params);
    if (m_cursor->SeekFirst(conds, params, false)) {
        m_eof = false;
        m_bof = false;
        RecordChanged();
    } else {
        m_eof = true;  // the last record stays current
    }
}

void TDbTable::Prior() {
    RequireReadable();
    Post();
    if (!m_hasRecord) {
        m_bof = true;
        return;
    }
    std::vector<std::string> conds;
    std::vector<TDbValue> params;
    m_cursor->BaseWhere(conds, params);
    m_cursor->Beyond(false, conds, params);
    if (m_cursor->SeekFirst(conds, params, true)) {
        m_eof = false;
        m_bof = false;
        RecordChanged();
    } else {
        m_bof = true;
    }
}

int TDbTable::RecordCount() {
    RequireReadable();
    std::vector<std::string> conds;
    std::vector<TDbValue> params;
    m_cursor->BaseWhere(conds, params);
    m_cursor->Sync();
    if (m_filtered && OnFilterRecord) {
        // Count what the filter handler accepts, without moving the visible cursor.
        auto savedBuffer = m_buffer;
        auto savedKey = m_cursor->Key;
        auto savedRow = m_cursor->RowId;
        bool savedHas = m_hasRecord;
        int count = 0;
        Stmt& s = m_cursor->H->Prepare(m_cursor->Select(conds, false, false));
        ScopedStmt scoped(s);
        s.BindAll(params);
        while (s.Step()) {
            m_cursor->Load(s);
            if (OnFilterRecord(*this)) ++count;
        }
        m_buffer = savedBuffer;
        m_cursor->Key = savedKey;
        m_cursor->RowId = savedRow;
        m_hasRecord = savedHas;
        return count;
    }
    std::string sql = "SELECT count(*) FROM " + m_cursor->Quoted;
    for (std::size_t i = 0; i < conds.size(); ++i) sql += (i ? " AND " : " WHERE ") + conds[i];
    Stmt& s = m_cursor->H->Prepare(sql);
    ScopedStmt scoped(s);
    s.BindAll(params);
    s.Step();
    return static_cast<int>(s.Column(0).Integer());
}

bool TDbTable::FindKey(const std::vector<std::string>& values) {
    RequireReadable();
    Post();
    auto& c = *m_cursor;
    if (c.Order.empty()) throw EDbDatasetError(kNoIndex);
    if (static_cast<int>(values.size()) > c.KeyCount) throw EDbDatasetError(kTooManyValues);
    std::vector<std::string> conds;
    std::vector<TDbValue> params;
    c.BaseWhere(conds, params);
    for (std::size_t i = 0; i < values.size(); ++i)
        c.Equals(c.Order[i], c.KeyValue(c.Order[i], values[i]), conds, params);
    if (!c.SeekFirst(conds, params, false)) return false;
    m_eof = false;
    m_bof = false;
    RecordChanged();
    return true;
}

void TDbTable::Append() {
    RequireReadable();
    TDataSet::Append();
}

void TDbTable::DoAppend() {
    TDataSet::DoAppend();
    // A new record of a detail takes the master's values of the linked fields.
    if (m_master && m_master->Active() && m_master->HasCurrentRecord()) {
        auto masterFields = SplitFieldList(m_masterFields);
        for (std::size_t i = 0; i < masterFields.size() && i < m_cursor->Order.size(); ++i) {
            auto pos = static_cast<std::size_t>(m_cursor->Order[i]);
            m_buffer[pos] = m_master->FieldByName(masterFields[i]).AsVariant();
            m_modified[pos] = true;
        }
    }
}

void TDbTable::DoCancel() {
    if (m_hasRecord && m_cursor && m_cursor->Readable) {
        if (!m_cursor->LoadRowId(m_cursor->RowId)) m_hasRecord = false;
    }
}

void TDbTable::DoPost() {
    RequireReadable();
    auto& c = *m_cursor;
    std::vector<TDbValue> params;
    params.reserve(c.Def.Fields.size() + 1);
    if (m_state == TDataSetState::dsInsert) {
        // The layer numbers auto-increment fields that a new record leaves empty.
        for (std::size_t i = 0; i < c.Def.Fields.size(); ++i) {
            if (c.Def.Fields[i].Type == TFieldType::ftAutoInc && m_buffer[i].IsNull()) {
                Stmt& s = c.H->Prepare("SELECT coalesce(max(" + QuoteIdent(c.Def.Fields[i].Name) +
                                       "), 0) + 1 FROM " + c.Quoted);
                ScopedStmt scoped(s);
                s.Step();
                m_buffer[i] = s.Column(0);
                m_modified[i] = true;
            }
        }
    }
    const bool insert = m_state == TDataSetState::dsInsert;
    if (!insert && std::find(m_modified.begin(), m_modified.end(), true) == m_modified.end()) return;
    for (std::size_t i = 0; i < c.Def.Fields.size(); ++i)
        if (m_modified[i]) params.push_back(m_buffer[i]);
    if (!insert) params.push_back(TDbValue(c.RowId));
    if (c.PostSql.empty() || c.PostInsert != insert || c.PostFields != m_modified) {
        std::string list, marks;
        for (std::size_t i = 0; i < c.Def.Fields.size(); ++i) {
            if (!m_modified[i]) continue;
            list += list.empty() ? "" : ", ";
            list += QuoteIdent(c.Def.Fields[i].Name);
            if (!insert) list += " = ?";
            marks += marks.empty() ? "?" : ", ?";
        }
        if (insert)
            c.PostSql = list.empty() ? "INSERT INTO " + c.Quoted + " DEFAULT VALUES"
                                     : "INSERT INTO " + c.Quoted + " (" + list + ") VALUES (" + marks + ")";
        else
            c.PostSql = "UPDATE " + c.Quoted + " SET " + list + " WHERE rowid = ?";
        c.PostInsert = insert;
        c.PostFields = m_modified;
    }
    const std::string& sql = c.PostSql;
    detail::WriteGroups::BeforeWrite(*c.H, c.File, c.What);
    Stmt& s = c.H->Prepare(sql);
    {
        ScopedStmt scoped(s);
        s.BindAll(params);
        s.Step();
    }
    detail::WriteGroups::AfterWrite(*c.H);
    std::int64_t rowid = m_state == TDataSetState::dsInsert
                             ? static_cast<std::int64_t>(sqlite3_last_insert_rowid(c.H->Db()))
                             : c.RowId;
    c.LoadRowId(rowid);
    m_eof = false;
    m_bof = false;
}

void TDbTable::DoDelete() {
    RequireReadable();
    auto& c = *m_cursor;
    {
        detail::WriteGroups::BeforeWrite(*c.H, c.File, c.What);
        Stmt& s = c.H->Prepare("DELETE FROM " + c.Quoted + " WHERE rowid = ?");
        ScopedStmt scoped(s);
        s.Bind(1, TDbValue(c.RowId));
        s.Step();
    }
    detail::WriteGroups::AfterWrite(*c.H);
    // The next record becomes current; after the last one the dataset is at its end.
    std::vector<std::string> conds;
    std::vector<TDbValue> params;
    c.BaseWhere(conds, params);
    auto baseConds = conds;
    auto baseParams = params;
    c.Beyond(true, conds, params);
    if (c.SeekFirst(conds, params, false)) {
        m_eof = false;
        return;
    }
    c.Beyond(false, baseConds, baseParams);
    if (c.SeekFirst(baseConds, baseParams, true)) {
        m_eof = true;
        return;
    }
    m_hasRecord = false;
    m_eof = m_bof = true;
}

TDbValue TDbTable::LookupResult(const std::vector<std::string>& keyFields,
                                const std::vector<TDbValue>& values, const std::string& resultField) {
    if (!Active() || !m_cursor || !m_cursor->Readable) return {};
    auto& c = *m_cursor;
    c.Sync();
    int resultPos = c.FieldPos(resultField);
    if (resultPos < 0) return {};
    std::string sql = "SELECT " + c.Col(resultPos) + " FROM " + c.Quoted;
    std::vector<TDbValue> params;
    for (std::size_t i = 0; i < keyFields.size() && i < values.size(); ++i) {
        int pos = c.FieldPos(keyFields[i]);
        if (pos < 0) return {};
        if (values[i].IsNull()) return {};
        sql += (i ? " AND " : " WHERE ") + c.Col(pos) + " = ?";
        params.push_back(values[i]);
    }
    Stmt& s = c.H->Prepare(sql + " LIMIT 1");
    ScopedStmt scoped(s);
    s.BindAll(params);
    if (!s.Step()) return {};
    return s.Column(0);
}

const std::vector<TIndexDef>& TDbTable::IndexDefs() const {
    RequireReadable();
    return m_cursor->Def.Indexes;
}

const TTableDef& TDbTable::TableDef() const {
    RequireReadable();
    return m_cursor->Def;
}

}  // namespace peltorn::db
