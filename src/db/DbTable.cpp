// TDbTable: a live, indexed cursor over one table (see db/TableCursor.h for how it moves).
// This file holds its properties, opening and closing, navigation, key search and posting; the
// operations on the table's file (encrypting, packing, flushing) are in DbTableFile.cpp.
#include "db/TableCursor.h"

#include <sqlcipher/sqlite3.h>

#include <algorithm>

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
                                   "the table password (" +
                                   m_cursor->Conn.What() + ")");
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
    if (m_cursor->LastWasKey) m_cursor->KeyIsFollowed = true;
    m_cursor->LastWasKey = false;
    if (m_cursor->NextFromAhead()) {
        m_eof = false;
        m_bof = false;
        RecordChanged();
        return;
    }
    std::vector<std::string> conds;
    std::vector<TDbValue> params;
    m_cursor->BaseWhere(conds, params);
    m_cursor->Beyond(true, conds, params);
    if (m_cursor->SeekNext(conds, params)) {
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
        Stmt& s = m_cursor->H->Prepare(m_cursor->Select(conds, false, 0));
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
    bool found = false;
    if (!m_master && !(m_filtered && (OnFilterRecord || !m_filter.empty()))) {
        found = c.SeekKey(values);
    } else {
        std::vector<std::string> conds;
        std::vector<TDbValue> params;
        c.BaseWhere(conds, params);
        for (std::size_t i = 0; i < values.size(); ++i)
            c.Equals(c.Order[i], c.KeyValue(c.Order[i], values[i]), conds, params);
        found = c.SeekFirst(conds, params, false);
    }
    if (!found) return false;
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
    if (!insert && std::find(m_modified.begin(), m_modified.end(), true) == m_modified.end())
        return;
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
            c.PostSql = list.empty()
                            ? "INSERT INTO " + c.Quoted + " DEFAULT VALUES"
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
    c.WroteThrough(insert, m_modified);
    detail::WriteGroups::AfterWrite(*c.H);
    std::int64_t rowid = m_state == TDataSetState::dsInsert
                             ? static_cast<std::int64_t>(sqlite3_last_insert_rowid(c.H->Db()))
                             : c.RowId;
    c.PostedRecord(rowid, insert, m_modified);
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
                                const std::vector<TDbValue>& values,
                                const std::string& resultField) {
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
