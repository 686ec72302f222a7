// TDbQuery: statements on a connection.
//
// Every query has a handle of its own. On a data dictionary it is a second handle on the .ADD
// file; on a folder of free tables it is an empty in-memory database to which the table files the
// statement names are attached, each under its table name (so "SELECT * FROM EMP_BNK" finds the
// table EMP_BNK in the attached file EMP_BNK.ADT), keyed with the statement's passwords.
// Attachments stay cached while the passwords stay the same; SQLite allows ten, so the least
// recently used are dropped first.
//
// A SELECT is walked from the statement while the query is open; First runs it again. Because a
// query's handle is its own, an open query never holds back the commit of a write made through a
// table or another statement.
#include "db/DbQuery.h"

#include "db/DbConnection.h"
#include "db/DbInternal.h"
#include "db/SqlText.h"

#include <sqlcipher/sqlite3.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace peltorn::db {

using detail::EqualsNoCase;
using detail::Handle;
using detail::QuoteIdent;
using detail::ScopedStmt;
using detail::Stmt;
using detail::Upper;

namespace {
const char* kOpenDataset = "Cannot perform this operation on an open dataset";
constexpr std::size_t kMaxCachedAttachments = 8;
}  // namespace

namespace detail {

class QueryCursor {
public:
    TDbQuery& Q;
    ConnectionImpl& Conn;
    std::uint64_t Epoch;
    std::unique_ptr<Handle> H;
    struct Attachment {
        std::string File;
        std::string Password;
        std::uint64_t LastUse = 0;
        // The attached file counts as used by the layer while it is attached (see FileUse).
        std::shared_ptr<FileUse> Use;
    };
    std::map<std::string, Attachment> Attached;
    std::uint64_t UseClock = 0;
    bool SystemAttached = false;
    std::vector<std::unique_ptr<TableLock>> Locks;
    Stmt* Active = nullptr;

    QueryCursor(TDbQuery& q, ConnectionImpl& conn) : Q(q), Conn(conn), Epoch(conn.Epoch()) {
        AttachmentRegistry::Register(this, &QueryCursor::ReleaseHook);
        if (Conn.Dictionary()) {
            H = std::make_unique<Handle>(Conn.Path(), false, Conn.What());
            Conn.KeyDictionaryHandle(*H);
            H->Exec("PRAGMA synchronous=NORMAL");
        } else {
            H = std::make_unique<Handle>(":memory:", true, Conn.What());
        }
    }
    ~QueryCursor() {
        if (Active) Active->Reset();
        AttachmentRegistry::Unregister(this);
        // The handle (and with it every attachment) is closed before the attachments' uses end.
        WriteGroups::CommitHandleQuietly(*H);
        H.reset();
    }

    static void ReleaseHook(void* owner, const std::string& path) {
        auto* self = static_cast<QueryCursor*>(owner);
        for (auto it = self->Attached.begin(); it != self->Attached.end();) {
            if (it->second.File == path && !self->Active) {
                self->H->ClearCache();
                self->H->Exec("DETACH DATABASE " + QuoteIdent(it->first));
                it = self->Attached.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::string PasswordFor(const std::string& table) const {
        auto it = Q.TablePasswords().find(table);
        if (it != Q.TablePasswords().end()) return it->second;
        return Q.StatementPassword();
    }

    void Detach(const std::string& name) {
        H->ClearCache();
        H->Exec("DETACH DATABASE " + QuoteIdent(name));
        Attached.erase(name);
    }

    void Attach(const std::string& table, const std::string& file,
                const std::vector<std::string>& needed) {
        std::string password = PasswordFor(table);
        auto it = Attached.find(table);
        if (it != Attached.end()) {
            if (it->second.File == file && it->second.Password == password) {
                it->second.LastUse = ++UseClock;
                return;
            }
            Detach(table);
        }
        bool encrypted = !IsPlainDatabaseFile(file);
        if (encrypted && password.empty()) {
            throw EDbDatabaseError(TDbErrorCode::PasswordRequired,
                                   "Table " + table +
                                       " is encrypted: the table password is "
                                       "required (" +
                                       Conn.What() + ")");
        }
        while (Attached.size() >= kMaxCachedAttachments) {
            std::string victim;
            std::uint64_t oldest = UINT64_MAX;
            for (auto& [name, a] : Attached) {
                if (std::find(needed.begin(), needed.end(), name) != needed.end()) continue;
                if (a.LastUse < oldest) {
                    oldest = a.LastUse;
                    victim = name;
                }
            }
            if (victim.empty()) break;
            Detach(victim);
        }
        bool attached = false;
        try {
            {
                auto attach =
                    H->PrepareOnce("ATTACH DATABASE ?1 AS " + QuoteIdent(table) + " KEY ?2");
                attach->Bind(1, TDbValue(file));
                attach->Bind(2, TDbValue(encrypted ? RawKeyFor(password) : std::string()));
                attach->Step();
                attached = true;
            }
            H->Exec("SELECT count(*) FROM " + QuoteIdent(table) + ".sqlite_master");
        } catch (const EDbDatabaseError& e) {
            if (attached) H->Exec("DETACH DATABASE " + QuoteIdent(table));
            if (e.Code() == TDbErrorCode::NotADatabase && encrypted && LooksEncrypted(file))
                throw EDbDatabaseError(
                    TDbErrorCode::WrongPassword,
                    "Wrong table password for table " + table + " (" + Conn.What() + ")");
            throw EDbDatabaseError(e.Code(), "Table " + table + ": " + e.what());
        }
        H->Exec("PRAGMA " + QuoteIdent(table) + ".synchronous=NORMAL");
        Attached[table] = {file, password, ++UseClock, std::make_shared<FileUse>(file, true)};
    }

    void RefreshSystemColumns() {
        if (!SystemAttached) {
            // KEY '': without it the attachment would take the key of an encrypted dictionary.
            H->Exec("ATTACH DATABASE ':memory:' AS SYSTEM KEY ''");
            H->Exec(
                "CREATE TABLE SYSTEM.COLUMNS (PARENT TEXT, Name TEXT, Field_Type INTEGER, "
                "Field_Length INTEGER)");
            SystemAttached = true;
        }
        H->Exec("DELETE FROM SYSTEM.COLUMNS");
        auto add = [&](const TTableDef& def) {
            for (const auto& f : def.Fields) {
                Stmt& s = H->Prepare("INSERT INTO SYSTEM.COLUMNS VALUES (?1, ?2, ?3, ?4)");
                ScopedStmt scoped(s);
                s.Bind(1, TDbValue(def.Name));
                s.Bind(2, TDbValue(f.Name));
                s.Bind(3, TDbValue(SystemFieldTypeCode(f.Type)));
                s.Bind(4, TDbValue(f.Size));
                s.Step();
            }
        };
        if (Conn.Dictionary()) {
            for (const auto& name : TableNamesIn(*H, "main"))
                add(ReadTableDefFrom(*H, "main", name));
            return;
        }
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(Conn.Path(), ec)) {
            if (Upper(entry.path().extension().string()) != ".ADT") continue;
            std::string file = entry.path().string();
            std::string table = Upper(entry.path().stem().string());
            Handle h(file, false, Conn.What());
            if (!IsPlainDatabaseFile(file)) {
                std::string pw = PasswordFor(table);
                if (pw.empty()) continue;
                h.Key(RawKeyFor(pw));
            }
            try {
                add(ReadTableDefFrom(h, "main", entry.path().stem().string()));
            } catch (const EDbDatabaseError&) {
                // A table whose records cannot be read lists no columns.
            }
        }
    }

    // Makes the tables of the statement reachable, takes their shared locks and prepares it.
    // The tables of the last statement prepared: a statement opened again and again (one per
    // payroll header) is not parsed again each time.
    std::string TablesOf;
    std::vector<std::string> Tables;

    Stmt& Prepare(const std::string& sql) {
        if (TablesOf.empty() || TablesOf != sql) {
            Tables = ReferencedTables(sql);
            TablesOf = sql;
        }
        const std::vector<std::string> tables = Tables;
        Locks.clear();
        // Posts still held in a commit group are written before a statement reads the file.
        if (Conn.Dictionary()) WriteGroups::CommitFile(Conn.Path());
        for (const auto& t : tables)
            if (!Conn.Dictionary() && t != "SYSTEM") {
                std::string file = Conn.TableFile(t);
                if (!file.empty()) WriteGroups::CommitFile(file);
            }
        for (const auto& t : tables) {
            if (t == "SYSTEM") {
                RefreshSystemColumns();
                continue;
            }
            if (Conn.Dictionary()) {
                std::string stored = Conn.StoredTableName(t);
                if (!stored.empty())
                    Locks.push_back(
                        std::make_unique<TableLock>(Conn.Path(), stored, false, Conn.What()));
                continue;
            }
            std::string file = Conn.TableFile(t);
            if (file.empty()) continue;  // SQLite names the missing table
            Attach(t, file, tables);
            Locks.push_back(std::make_unique<TableLock>(file, t, false, Conn.What()));
        }
        try {
            return H->Prepare(sql);
        } catch (const EDbDatabaseError& e) {
            std::string msg = e.what();
            auto pos = msg.find("no such table: ");
            if (pos != std::string::npos) {
                std::string name = msg.substr(pos + 15);
                name = name.substr(0, name.find(' '));
                throw EDbDatabaseError(TDbErrorCode::TableNotFound,
                                       "Table " + name + " not found (" + Conn.What() + ")");
            }
            throw;
        }
    }

    void Bind(Stmt& s) {
        int n = sqlite3_bind_parameter_count(s.Raw());
        for (int i = 1; i <= n; ++i) {
            const char* raw = sqlite3_bind_parameter_name(s.Raw(), i);
            std::string name = raw ? std::string(raw + 1) : std::string();
            const TParam* param = nullptr;
            for (const auto& p : Q.m_params)
                if (EqualsNoCase(p->Name(), name)) param = p.get();
            // A parameter without a value is passed as empty text.
            s.Bind(i, param && param->Bound() ? param->Value() : TDbValue(std::string()));
        }
    }

    std::int64_t Scalar(const std::string& sql) {
        Stmt& s = Prepare(sql);
        ScopedStmt scoped(s);
        Bind(s);
        if (!s.Step()) return 0;
        TDbValue v = s.Column(0);
        return v.IsInteger() ? v.Integer() : 0;
    }

    int Exec(const std::string& sql);
    void AlterColumn(const AlterColumnStatement& a);
};

int QueryCursor::Exec(const std::string& sql) {
    if (auto ifExists = ParseIfExists(sql)) {
        bool exists = Scalar("SELECT EXISTS (" + ifExists->Condition + ")") != 0;
        Locks.clear();
        return exists ? Exec(ifExists->Then) : 0;
    }
    if (auto alter = ParseAlterColumn(sql)) {
        AlterColumn(*alter);
        return 0;
    }
    Stmt& s = Prepare(sql);
    ScopedStmt scoped(s);
    Bind(s);
    while (s.Step()) {
    }
    int changes = IsSelect(sql) ? 0 : H->Changes();
    Locks.clear();
    return changes;
}

// ALTER TABLE t ALTER COLUMN c c TYPE: SQLite cannot change a column's type in place, so the
// table is rebuilt in one transaction: the same rows (rowids kept, so the natural order stays),
// the same values and the same indexes.
void QueryCursor::AlterColumn(const AlterColumnStatement& a) {
    std::string table = Upper(a.Table);
    std::string schema = "main";
    std::string lockFile;
    std::string lockName = table;
    if (Conn.Dictionary()) {
        lockName = Conn.StoredTableName(table);
        if (lockName.empty()) {
            throw EDbDatabaseError(TDbErrorCode::TableNotFound,
                                   "Table " + a.Table + " not found (" + Conn.What() + ")");
        }
        lockFile = Conn.Path();
    } else {
        lockFile = Conn.TableFile(table);
        if (lockFile.empty()) {
            throw EDbDatabaseError(TDbErrorCode::TableNotFound,
                                   "Table " + a.Table + " not found (" + Conn.What() + ")");
        }
        Attach(table, lockFile, {table});
        schema = table;
    }
    WriteGroups::CommitFile(lockFile);
    TableLock lock(lockFile, lockName, true, Conn.What());
    TTableDef def = ReadTableDefFrom(*H, schema, lockName);
    TTableDef rebuilt = def;
    bool found = false;
    for (auto& f : rebuilt.Fields) {
        if (EqualsNoCase(f.Name, a.Column)) {
            f.Name = a.NewName;
            f.Type = FieldTypeFromDeclared(a.NewType, &f.Size);
            if (f.Type == TFieldType::ftUnknown) {
                throw EDbDatabaseError(TDbErrorCode::SqlError, "Unknown field type " + a.NewType +
                                                                   " (" + Conn.What() + ")");
            }
            found = true;
        }
    }
    if (!found) {
        throw EDbDatabaseError(
            TDbErrorCode::SqlError,
            "Field " + a.Column + " not found in table " + def.Name + " (" + Conn.What() + ")");
    }
    for (auto& idx : rebuilt.Indexes)
        for (auto& f : idx.Fields)
            if (EqualsNoCase(f, a.Column)) f = a.NewName;
    std::string q = QuoteIdent(schema) + ".";
    std::string tmpName = def.Name + "__REBUILD";
    TTableDef tmpDef = rebuilt;
    tmpDef.Name = tmpName;
    tmpDef.Indexes.clear();
    std::string oldCols, newCols;
    for (std::size_t i = 0; i < def.Fields.size(); ++i) {
        oldCols += ", " + QuoteIdent(def.Fields[i].Name);
        newCols += ", " + QuoteIdent(rebuilt.Fields[i].Name);
    }
    H->ClearCache();
    H->Exec("BEGIN IMMEDIATE");
    try {
        H->Exec(TableDdl(tmpDef, schema).front());
        H->Exec("INSERT INTO " + q + QuoteIdent(tmpName) + " (rowid" + newCols + ") SELECT rowid" +
                oldCols + " FROM " + q + QuoteIdent(def.Name));
        H->Exec("DROP TABLE " + q + QuoteIdent(def.Name));
        H->Exec("ALTER TABLE " + q + QuoteIdent(tmpName) + " RENAME TO " + QuoteIdent(def.Name));
        auto ddl = TableDdl(rebuilt, schema);
        for (std::size_t i = 1; i < ddl.size(); ++i) H->Exec(ddl[i]);
        H->Exec("COMMIT");
    } catch (...) {
        try {
            H->Exec("ROLLBACK");
        } catch (...) {
        }
        throw;
    }
    H->ClearCache();
}

}  // namespace detail

// ---- TStringList ----

void TStringList::Clear() {
    m_lines.clear();
    if (OnChange) OnChange();
}

void TStringList::Add(const std::string& line) {
    m_lines.push_back(line);
    if (OnChange) OnChange();
}

std::string TStringList::Text() const {
    std::string out;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (i) out += '\n';
        out += m_lines[i];
    }
    return out;
}

// ---- TDbQuery ----

TDbQuery::TDbQuery(std::string name) : TDataSet(std::move(name)) {
    m_sql.OnChange = [this] { SqlChanged(); };
}

TDbQuery::~TDbQuery() { m_cursor.reset(); }

void TDbQuery::SqlChanged() {
    Close();
    m_prepared = false;
    SyncParams();
}

void TDbQuery::SyncParams() {
    std::string text = m_sql.Text();
    if (text == m_paramsFor) return;
    m_paramsFor = text;
    std::vector<std::unique_ptr<TParam>> params;
    for (const auto& name : detail::ParameterNames(text)) {
        auto p = std::make_unique<TParam>(name);
        for (const auto& old : m_params) {
            if (EqualsNoCase(old->Name(), name) && old->Bound()) {
                if (old->Value().IsNull())
                    p->Clear();
                else if (old->Value().IsInteger())
                    p->SetAsInteger(static_cast<std::int32_t>(old->Value().Integer()));
                else if (old->Value().IsFloat())
                    p->SetAsFloat(old->Value().Float());
                else if (old->Value().IsText())
                    p->SetAsString(old->Value().Text());
            }
        }
        params.push_back(std::move(p));
    }
    m_params = std::move(params);
}

TParam& TDbQuery::ParamByName(std::string_view name) {
    SyncParams();
    for (auto& p : m_params)
        if (EqualsNoCase(p->Name(), name)) return *p;
    throw EDbDatasetError("Parameter '" + std::string(name) + "' not found");
}

void TDbQuery::Prepare() {
    if (Active()) throw EDbDatasetError(kOpenDataset);
    m_prepared = true;
    m_rowsAffected = 0;
}

void TDbQuery::EnableEncryption(const std::string& password) {
    if (m_connection) m_connection->Connect();
    m_statementPassword = password;
}

void TDbQuery::SetTablePassword(const std::string& table, const std::string& password) {
    if (m_connection) m_connection->Connect();
    m_tablePasswords[Upper(table)] = password;
}

void TDbQuery::ConnectionClosing() {
    Close();
    m_cursor.reset();
    m_statementPassword.clear();
    m_tablePasswords.clear();
}

void TDbQuery::ExecSQL() {
    if (Active()) throw EDbDatasetError(kOpenDataset);
    if (!m_connection) throw EDbDatasetError("No connection assigned to " + Name());
    m_connection->Connect();
    if (!m_cursor || m_cursor->Epoch != m_connection->Impl().Epoch()) {
        m_cursor.reset();
        m_cursor = std::make_unique<detail::QueryCursor>(*this, m_connection->Impl());
    }
    SyncParams();
    try {
        m_rowsAffected = m_cursor->Exec(m_sql.Text());
    } catch (...) {
        m_cursor->Locks.clear();
        throw;
    }
}

void TDbQuery::DoOpen() {
    if (!m_cursor || m_cursor->Epoch != m_connection->Impl().Epoch()) {
        m_cursor.reset();
        m_cursor = std::make_unique<detail::QueryCursor>(*this, m_connection->Impl());
    }
    SyncParams();
    std::string text = m_sql.Text();
    m_recordCount = -1;
    m_position = 0;
    if (!detail::IsSelect(text)) {
        // A statement without rows: carried out, and the dataset is empty.
        m_rowsAffected = m_cursor->Exec(text);
        DefineFields({});
        m_hasRecord = false;
        m_eof = m_bof = true;
        return;
    }
    Stmt& s = m_cursor->Prepare(text);
    m_cursor->Bind(s);
    m_cursor->Active = &s;
    bool row = false;
    try {
        row = s.Step();
    } catch (...) {
        m_cursor->Active = nullptr;
        s.Reset();
        m_cursor->Locks.clear();
        throw;
    }
    std::vector<FieldInfo> fields;
    for (int i = 0; i < s.ColumnCount(); ++i) {
        const char* decl = s.ColumnDeclType(i);
        int size = 0;
        TFieldType type = decl ? FieldTypeFromDeclared(decl, &size) : TFieldType::ftUnknown;
        if (type == TFieldType::ftUnknown) {
            TDbValue v = row ? s.Column(i) : TDbValue();
            type = v.IsInteger() ? TFieldType::ftInteger
                   : v.IsFloat() ? TFieldType::ftFloat
                   : v.IsBlob()  ? TFieldType::ftBlob
                                 : TFieldType::ftString;
        }
        // The table a column selects from names the field in errors about its values.
        const char* table = sqlite3_column_table_name(s.Raw(), i);
        fields.push_back({s.ColumnName(i), type, size, table ? std::string(table) : std::string()});
    }
    DefineFields(fields);
    if (row) LoadRow();
    m_hasRecord = row;
    m_eof = !row;
    m_bof = true;
}

void TDbQuery::LoadRow() {
    Stmt& s = *m_cursor->Active;
    for (std::size_t i = 0; i < m_buffer.size(); ++i) m_buffer[i] = s.Column(static_cast<int>(i));
    m_hasRecord = true;
}

void TDbQuery::DoClose() {
    if (m_cursor) {
        if (m_cursor->Active) m_cursor->Active->Reset();
        m_cursor->Active = nullptr;
        m_cursor->Locks.clear();
    }
}

void TDbQuery::First() {
    CheckActive();
    if (!m_cursor->Active) return;
    Stmt& s = *m_cursor->Active;
    s.Reset();
    m_cursor->Bind(s);
    m_position = 0;
    bool row = s.Step();
    if (row)
        LoadRow();
    else
        m_hasRecord = false;
    m_eof = !row;
    m_bof = true;
    RecordChanged();
}

void TDbQuery::Next() {
    CheckActive();
    if (!m_cursor->Active || m_eof) {
        m_eof = true;
        return;
    }
    if (m_cursor->Active->Step()) {
        LoadRow();
        ++m_position;
        m_bof = false;
        RecordChanged();
    } else {
        m_eof = true;  // the last row stays current
    }
}

void TDbQuery::MoveBy(int distance) {
    CheckActive();
    for (; distance > 1 && !m_eof; --distance) {
        if (!m_cursor->Active || !m_cursor->Active->Step())
            m_eof = true;
        else
            ++m_position;
    }
    if (distance == 1) Next();
}

void TDbQuery::Last() {
    CheckActive();
    while (!m_eof) Next();
}

void TDbQuery::Prior() {
    CheckActive();
    if (m_position == 0) {
        m_bof = true;
        return;
    }
    int target = m_position - 1;
    First();
    while (m_position < target && !m_eof) Next();
    m_eof = false;
}

int TDbQuery::RecordCount() {
    CheckActive();
    if (m_recordCount >= 0) return m_recordCount;
    if (!m_cursor->Active) return 0;
    // Counted by the engine, so that a large result is never held twice.
    std::string text = m_sql.Text();
    Stmt& s = m_cursor->H->Prepare("SELECT count(*) FROM (" + text + "\n)");
    ScopedStmt scoped(s);
    m_cursor->Bind(s);
    s.Step();
    m_recordCount = static_cast<int>(s.Column(0).Integer());
    return m_recordCount;
}

void TDbQuery::Append() {
    throw EDbDatasetError("Cannot modify a read-only dataset (" + Name() + ")");
}
void TDbQuery::Edit() {
    throw EDbDatasetError("Cannot modify a read-only dataset (" + Name() + ")");
}
void TDbQuery::Delete() {
    throw EDbDatasetError("Cannot modify a read-only dataset (" + Name() + ")");
}
void TDbQuery::DoPost() {}
void TDbQuery::DoDelete() {}

}  // namespace peltorn::db
