// TDbTable: a live cursor over one table, in the order of its active index (IndexFieldNames or
// IndexName; natural order when neither is set). Navigation and FindKey are indexed lookups in
// the table file; the table is never copied into memory. Posting writes the record at once and
// leaves the cursor on it.
#pragma once

#include "db/DbDataSet.h"
#include "db/DbSchema.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace peltorn::db {

namespace detail {
class TableCursor;
}

class TDbTable : public TDataSet {
public:
    explicit TDbTable(std::string name = {});
    ~TDbTable() override;

    // Only while closed (else EDbDatasetError "Cannot perform this operation on an open dataset").
    void SetTableName(const std::string& table);
    const std::string& TableName() const { return m_tableName; }
    void SetExclusive(bool exclusive);
    bool Exclusive() const { return m_exclusive; }

    // May change while open: the table is then ordered by the new index and stays on its record.
    // A list that matches no index whose leading fields are exactly those fields fails at open
    // (or at once when open) with EDbDatabaseError naming the fields and the table.
    // Setting one clears the other. Empty = natural order.
    void SetIndexFieldNames(const std::string& fields);
    const std::string& IndexFieldNames() const { return m_indexFieldNames; }
    void SetIndexName(const std::string& tag);
    const std::string& IndexName() const { return m_indexName; }

    // When set and the opened free table is encrypted, encryption is enabled with it at open.
    std::string EncryptionPassword;

    // Records of the open free table are read and written with this password from now on.
    // An encrypted table opened without password can be opened, but its records cannot be read
    // or written before this call. A wrong password raises EDbDatabaseError.
    void EnableEncryption(const std::string& password);
    // Rewrites the open free table encrypted with the enabled password (every record kept).
    void EncryptTable();
    bool IsTableEncrypted();
    // Leaves edit state (posting) and writes pending changes to disk.
    void FlushFileBuffers();
    // Removes deleted records for good; requires that no other dataset has the table open.
    void PackTable();

    // Record filter: while Filtered, navigation and FindKey see only records that Filter (an SQL
    // condition over the table's fields, may be empty) and OnFilterRecord (may be empty) accept.
    void SetFiltered(bool filtered);
    bool Filtered() const { return m_filtered; }
    void SetFilter(const std::string& condition);
    const std::string& Filter() const { return m_filter; }
    std::function<bool(TDbTable&)> OnFilterRecord;

    // Master link: only records whose leading index fields equal the master's current values of
    // MasterFields are visible, following the master's moves. A new record takes those values.
    void SetMasterSource(TDataSet* master, const std::string& masterFields);

    // Leave edit state; values fill the first index fields in order (text, converted to the
    // field types); fewer values search on the leading fields. Found: first match current,
    // true. Not found: false, the cursor stays. Errors: EDbDatasetError "An index must be
    // active to perform this operation. Set the IndexName property." and "Too many values given
    // for current index".
    bool FindKey(const std::vector<std::string>& values);

    void First() override;
    void Next() override;
    void Prior() override;
    void Last() override;
    int RecordCount() override;
    void Append() override;

    // The result field of the first record whose key fields equal values, read without moving
    // the cursor; null when there is none or the table is closed.
    TDbValue LookupResult(const std::vector<std::string>& keyFields,
                          const std::vector<TDbValue>& values, const std::string& resultField);

    // Layer internals: the master's current record changed.
    void MasterMoved();

    // The indexes of the open table.
    const std::vector<TIndexDef>& IndexDefs() const;
    // The stored definition of the open table (fields and indexes).
    const TTableDef& TableDef() const;

protected:
    void DoOpen() override;
    void DoClose() override;
    void DoPost() override;
    void DoDelete() override;
    void DoAppend() override;
    void DoCancel() override;

private:
    void RequireReadable() const;

    std::string m_tableName;
    std::string m_indexFieldNames;
    std::string m_indexName;
    bool m_exclusive = false;
    bool m_filtered = false;
    std::string m_filter;
    TDataSet* m_master = nullptr;
    std::string m_masterFields;
    std::unique_ptr<detail::TableCursor> m_cursor;
    friend class detail::TableCursor;
};

}  // namespace peltorn::db
