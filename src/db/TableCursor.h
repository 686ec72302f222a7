// The cursor of an open TDbTable: one record of one table, and the indexed queries that move it.
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
//
// Internal to the database layer: DbTable.cpp (opening, navigation, key search, posting) and
// DbTableFile.cpp (encrypting, packing, flushing) share it.
#pragma once

#include "db/DbConnection.h"
#include "db/DbInternal.h"
#include "db/DbSettings.h"
#include "db/DbTable.h"

#include <sqlcipher/sqlite3.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace peltorn::db::detail {

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
        Ahead.clear();
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
                throw EDbDatabaseError(TDbErrorCode::WrongPassword,
                                       "Wrong table password for " + What);
            throw;
        }
        Own->Exec("PRAGMA synchronous=NORMAL");
        Password = password;
        Readable = true;
    }

    void LoadDef(const std::string& name) {
        std::vector<std::string> declared;
        Def = ReadTableDefFrom(*H, "main", name, declared);
        Quoted = QuoteIdent(Def.Name);
        SelectList = "rowid";
        for (const auto& f : Def.Fields) SelectList += ", " + QuoteIdent(f.Name);
        RowIdSql = "SELECT " + SelectList + " FROM " + Quoted + " WHERE rowid = ?";
        Affinities.clear();
        for (const auto& d : declared) Affinities.push_back(AffinityOf(d));
        // A default or a trigger can store what the record did not say: such a table's posted
        // record is always read back.
        StoresAsPosted = std::none_of(Def.Fields.begin(), Def.Fields.end(),
                                      [](const TFieldDef& f) { return !f.Default.empty(); }) &&
                         !HasTriggers();
    }

    // The column affinity of a declared type, by the storage engine's rules in their order.
    enum class TAffinity { Integer, Text, Blob, Real, Numeric };
    static TAffinity AffinityOf(std::string declared) {
        for (auto& ch : declared) ch = UpperAscii(ch);
        auto has = [&](const char* part) { return declared.find(part) != std::string::npos; };
        if (has("INT")) return TAffinity::Integer;
        if (has("CHAR") || has("CLOB") || has("TEXT")) return TAffinity::Text;
        if (has("BLOB") || declared.empty()) return TAffinity::Blob;
        if (has("REAL") || has("FLOA") || has("DOUB")) return TAffinity::Real;
        return TAffinity::Numeric;
    }
    bool HasTriggers() const {
        auto s = H->PrepareOnce(
            "SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND upper(tbl_name) = upper(?1)");
        s->Bind(1, TDbValue(Def.Name));
        return s->Step();
    }
    std::vector<TAffinity> Affinities;
    bool StoresAsPosted = false;

    // Whether the table keeps value v of field i exactly as it is bound. A value the column's
    // affinity would convert (a number given as text, a whole number to a numeric column) is not
    // known here as stored; a real zero's sign is not kept, so a negative zero becomes zero.
    bool KeepsAsBound(std::size_t i, TDbValue& v) const {
        if (v.IsNull() || v.IsBlob()) return true;
        switch (Affinities[i]) {
            case TAffinity::Blob: return true;
            case TAffinity::Text: return v.IsText();
            case TAffinity::Integer: return v.IsInteger();
            case TAffinity::Real:
                if (!v.IsFloat()) return false;
                if (v.Float() == 0) v = TDbValue(0.0);
                return true;
            case TAffinity::Numeric:
                if (v.IsInteger()) return true;
                if (v.IsText()) return !MayBeNumber(v.Text());
                return false;
        }
        return false;
    }

    // Whether a numeric column could take the text for a number: a whole text of the form of a
    // number literal (a date "2026-06-15" is not). Read widely, so that any text the storage
    // engine converts is among them.
    static bool MayBeNumber(std::string_view t) {
        auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
        while (!t.empty() && space(t.front())) t.remove_prefix(1);
        while (!t.empty() && space(t.back())) t.remove_suffix(1);
        if (t.empty()) return true;
        std::size_t i = 0, digits = 0;
        auto digit = [&] { return i < t.size() && t[i] >= '0' && t[i] <= '9'; };
        if (t[i] == '+' || t[i] == '-') ++i;
        for (; digit(); ++i) ++digits;
        if (i < t.size() && t[i] == '.')
            for (++i; digit(); ++i) ++digits;
        if (digits == 0) return false;
        if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
            ++i;
            if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
            while (digit()) ++i;
        }
        return i == t.size();
    }

    // After a post: the record written becomes current. Where the table stores every value as it
    // was bound, the buffer is that record and is not read back.
    void PostedRecord(std::int64_t rowid, bool insert, const std::vector<bool>& assigned) {
        bool asBound = StoresAsPosted;
        for (std::size_t i = 0; asBound && i < Def.Fields.size(); ++i)
            if (insert || assigned[i]) asBound = KeepsAsBound(i, T.m_buffer[i]);
        if (!asBound) {
            LoadRowId(rowid);
            return;
        }
        RowId = rowid;
        BufferIsCurrent();
    }

    int FieldPos(const std::string& name) const {
        for (std::size_t i = 0; i < Def.Fields.size(); ++i)
            if (EqualsNoCase(Def.Fields[i].Name, name)) return static_cast<int>(i);
        return -1;
    }

    // Resolves the active order from IndexFieldNames or IndexName.
    void ResolveOrder(const std::string& fieldNames, const std::string& indexName) {
        Ahead.clear();
        KeyCache.clear();
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

    std::string Col(int pos) const {
        return QuoteIdent(Def.Fields[static_cast<std::size_t>(pos)].Name);
    }

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
        bool anyNull =
            std::any_of(Key.begin(), Key.end(), [](const TDbValue& v) { return v.IsNull(); });
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
            if (v.IsNull())
                term = after ? c + " IS NOT NULL" : "0";
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

    // limit: 1 for the first record only, 0 for every record, -1 for as many as a bound value.
    std::string Select(const std::vector<std::string>& conds, bool desc, int limit) const {
        std::string sql = "SELECT " + SelectList + " FROM " + Quoted;
        for (std::size_t i = 0; i < conds.size(); ++i) sql += (i ? " AND " : " WHERE ") + conds[i];
        return sql + OrderBy(desc) + (limit > 0 ? " LIMIT 1" : limit < 0 ? " LIMIT ?" : "");
    }

    void Load(Stmt& s) {
        RowId = s.Column(0).Integer();
        for (std::size_t i = 0; i < Def.Fields.size(); ++i)
            T.m_buffer[i] = s.Column(static_cast<int>(i + 1));
        BufferIsCurrent();
    }
    // The buffer holds the record of RowId: it becomes current, with its key in the order.
    void BufferIsCurrent() {
        Key.clear();
        for (int pos : Order) Key.push_back(T.m_buffer[static_cast<std::size_t>(pos)]);
        T.m_hasRecord = true;
    }

    // Runs the selection and makes its first accepted record current. Returns false (and leaves
    // the current record as it was) when there is none.
    // Another handle's uncommitted posts into this file must be written before this one reads.
    void Sync() const { WriteGroups::CommitFile(File, H); }

    // The statement of a selection. A cursor moves record after record with the same shape of
    // conditions, so the statement is kept per shape (the conditions' texts, the direction, the
    // limit, the active order) and the long select list is not formed and looked up again on every
    // move.
    Stmt& SelectStmt(const std::vector<std::string>& conds, bool desc, int limit) {
        if (SelectCacheHandle != H || SelectCacheGeneration != H->CacheGeneration()) {
            SelectCache.clear();
            SelectCacheHandle = H;
            SelectCacheGeneration = H->CacheGeneration();
        }
        std::string shape(desc ? "D" : "A");
        shape += limit > 0 ? '1' : limit < 0 ? 'N' : '*';
        for (int pos : Order) {
            shape += ',';
            shape += std::to_string(pos);
        }
        for (const auto& c : conds) {
            shape += '\x1f';
            shape += c;
        }
        auto found = SelectCache.find(shape);
        if (found != SelectCache.end()) return *found->second;
        Stmt& s = H->Prepare(Select(conds, desc, limit));
        SelectCache.emplace(std::move(shape), &s);
        return s;
    }
    std::unordered_map<std::string, Stmt*> SelectCache;
    Handle* SelectCacheHandle = nullptr;
    std::uint64_t SelectCacheGeneration = 0;

    bool SeekFirst(const std::vector<std::string>& conds, const std::vector<TDbValue>& params,
                   bool desc) {
        StartSeek();
        bool handler = T.m_filtered && T.OnFilterRecord;
        Stmt& s = SelectStmt(conds, desc, handler ? 0 : 1);
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

    // The key search of a cursor without master link or filter. Its statement depends only on
    // how many key values there are and which of them are empty, so it is kept under that shape
    // and the conditions' texts are formed once.
    bool SeekKey(const std::vector<std::string>& texts) {
        std::vector<TDbValue> values;
        values.reserve(texts.size());
        std::uint64_t shape = texts.size();
        std::uint64_t bound = 0;  // the values that are bound, as Equals binds them
        for (std::size_t i = 0; i < texts.size(); ++i) {
            values.push_back(KeyValue(Order[i], texts[i]));
            const TDbValue& v = values.back();
            const bool empty = v.IsNull() || (v.IsText() && v.Text().empty());
            const std::uint64_t kind = empty && IsCharacter(Order[i]) ? 1 : v.IsNull() ? 2 : 0;
            shape |= kind << (8 + 2 * i);
            if (kind == 0) bound |= std::uint64_t{1} << i;
        }
        if (KeyCacheHandle != H || KeyCacheGeneration != H->CacheGeneration()) {
            KeyCache.clear();
            KeyCacheHandle = H;
            KeyCacheGeneration = H->CacheGeneration();
        }
        // A cursor whose key searches are followed by Next reads the record after the one found
        // with it: where every key value is a text of a text field, the search starts at the key
        // in the order, and the record found is the first of them only when its key is the one
        // sought. It is read so only inside a transaction, where the data version it is kept
        // under is that of the same snapshot.
        bool ranged =
            KeyIsFollowed && StoresAsPosted && !values.empty() && !sqlite3_get_autocommit(H->Db());
        for (std::size_t i = 0; ranged && i < values.size(); ++i)
            ranged = values[i].IsText() && !values[i].Text().empty() &&
                     Affinities[static_cast<std::size_t>(Order[i])] == TAffinity::Text;
        if (ranged) return SeekKeyRanged(values);
        Stmt*& cached = KeyCache[shape];
        std::vector<TDbValue> params;
        if (!cached) {
            std::vector<std::string> conds;
            for (std::size_t i = 0; i < values.size(); ++i)
                Equals(Order[i], values[i], conds, params);
            cached = &H->Prepare(Select(conds, false, 1));
        } else {
            for (std::size_t i = 0; i < values.size(); ++i)
                if (bound & (std::uint64_t{1} << i)) params.push_back(std::move(values[i]));
        }
        StartSeek();
        LastWasKey = true;
        Stmt& s = *cached;
        ScopedStmt scoped(s);
        s.BindAll(params);
        if (!s.Step()) return false;
        Load(s);
        return true;
    }
    bool SeekKeyRanged(const std::vector<TDbValue>& values) {
        Stmt*& cached = KeyCache[(std::uint64_t{1} << 63) | values.size()];
        if (!cached) {
            std::string lhs, rhs;
            for (std::size_t i = 0; i < values.size(); ++i) {
                lhs += (i ? ", " : "") + Col(Order[i]);
                rhs += i ? ", ?" : "?";
            }
            cached = &H->Prepare(Select({"(" + lhs + ") >= (" + rhs + ")"}, false, -1));
        }
        StartSeek();
        LastWasKey = true;
        Stmt& s = *cached;
        ScopedStmt scoped(s);
        s.BindAll(values);
        s.Bind(static_cast<int>(values.size()) + 1, TDbValue(std::int64_t{2}));
        if (!s.Step()) return false;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const int column = Order[i] + 1;
            const std::string& wanted = values[i].Text();
            if (sqlite3_column_type(s.Raw(), column) != SQLITE_TEXT) return false;
            const auto* text = sqlite3_column_text(s.Raw(), column);
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(s.Raw(), column));
            if (size != wanted.size() || std::memcmp(text, wanted.data(), size) != 0) return false;
        }
        Load(s);
        AheadRun = 1;
        if (s.Step()) {
            KeepAhead(s);
            MarkAhead(DataVersion());
        }
        return true;
    }
    bool LastWasKey = false;     // the cursor was last placed by a key search
    bool KeyIsFollowed = false;  // a key search of this cursor has been followed by Next

    std::unordered_map<std::uint64_t, Stmt*> KeyCache;
    Handle* KeyCacheHandle = nullptr;
    std::uint64_t KeyCacheGeneration = 0;  // the key statements are of the active order

    // A seek that places the cursor afresh: others' pending posts into the file are written
    // first, and nothing read ahead is kept.
    void StartSeek() {
        Sync();
        Ahead.clear();
        AheadRun = 0;
        LastWasKey = false;
    }

    // ---- reading ahead ----
    // A run of Next calls reads the records that follow in the order in growing batches (1, 2,
    // 4, ... 64) rather than one indexed query per record. A record read ahead is served only
    // while it is known to be what a query would read now: the cursor still follows the record
    // it was read after, in the same order, master position and filter, and since then the table
    // has changed neither through another connection (the file's data version) nor through this
    // one, except by updates of this cursor's current record that leave its place in the order
    // alone. A filter handler, or a table whose defaults or triggers store what was not posted,
    // is never read ahead.
    struct TAheadRecord {
        std::int64_t RowId;
        std::vector<TDbValue> Values;
    };
    std::deque<TAheadRecord> Ahead;
    std::int64_t AheadAfter = 0;    // the rowid the records read ahead follow
    std::int64_t AheadChanges = 0;  // the handle's changes then, with this cursor's harmless ones
    std::int64_t AheadVersion = 0;  // the file's data version then
    std::uint64_t AheadMasterStamp = 0;
    int AheadRun = 0;  // Next calls in a row since the cursor was last placed otherwise

    std::int64_t DataVersion() {
        Stmt& s = H->Prepare("PRAGMA data_version");
        ScopedStmt scoped(s);
        s.Step();
        return s.Column(0).Integer();
    }
    std::uint64_t MasterStamp() const { return T.m_master ? T.m_master->MoveStamp() : 0; }

    // Makes the next record read ahead current; false (and nothing read ahead kept) when there is
    // none that may be served.
    bool NextFromAhead() {
        if (Ahead.empty()) return false;
        Sync();
        if (AheadAfter != RowId || AheadMasterStamp != MasterStamp() ||
            sqlite3_total_changes(H->Db()) != AheadChanges || DataVersion() != AheadVersion) {
            Ahead.clear();
            return false;
        }
        TAheadRecord& next = Ahead.front();
        RowId = next.RowId;
        for (std::size_t i = 0; i < Def.Fields.size(); ++i)
            T.m_buffer[i] = std::move(next.Values[i]);
        Ahead.pop_front();
        BufferIsCurrent();
        AheadAfter = RowId;
        return true;
    }

    // The seek of Next: the first record of the selection becomes current, and the batch's
    // others are kept to be served.
    bool SeekNext(const std::vector<std::string>& conds, const std::vector<TDbValue>& params) {
        if ((T.m_filtered && T.OnFilterRecord) || !StoresAsPosted)
            return SeekFirst(conds, params, false);
        const int run = AheadRun;
        StartSeek();
        const int batch = 1 << std::min(run, 6);
        // Read before the selection: a change between the two then only costs a fresh read.
        const std::int64_t version = batch > 1 ? DataVersion() : 0;
        Stmt& s = SelectStmt(conds, false, -1);
        ScopedStmt scoped(s);
        s.BindAll(params);
        s.Bind(static_cast<int>(params.size()) + 1, TDbValue(static_cast<std::int64_t>(batch)));
        if (!s.Step()) {
            AheadRun = 0;
            return false;
        }
        Load(s);
        AheadRun = run + 1;
        while (s.Step()) KeepAhead(s);
        MarkAhead(version);
        return true;
    }

    // Keeps the statement's current row to be served after the current record.
    void KeepAhead(Stmt& s) {
        TAheadRecord record{s.Column(0).Integer(), {}};
        record.Values.reserve(Def.Fields.size());
        for (std::size_t i = 0; i < Def.Fields.size(); ++i)
            record.Values.push_back(s.Column(static_cast<int>(i + 1)));
        Ahead.push_back(std::move(record));
    }
    // Notes what the records kept were read under: the current record, the handle's changes, the
    // file's data version and the master's position.
    void MarkAhead(std::int64_t version) {
        AheadAfter = RowId;
        AheadChanges = sqlite3_total_changes(H->Db());
        AheadVersion = version;
        AheadMasterStamp = MasterStamp();
    }

    // After a write through this cursor: an update that assigned none of the fields of the order
    // (nor any a filter condition may read) leaves the records ahead in place.
    void WroteThrough(bool insert, const std::vector<bool>& assigned) {
        if (Ahead.empty()) return;
        bool harmless = !insert && !(T.m_filtered && !T.m_filter.empty());
        for (int pos : Order) harmless = harmless && !assigned[static_cast<std::size_t>(pos)];
        if (harmless)
            AheadChanges += sqlite3_changes(H->Db());
        else
            Ahead.clear();
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

}  // namespace peltorn::db::detail
