// TDataSet and TField: what tables and queries have in common.
//
// A dataset is bound to one connection and, while open, stands on one current record (or on
// none when it is empty). Fields are found by name in any letter case or by position.
//
// Null rules: a null value reads as empty text, 0 or the zero date; assigning empty text to a
// numeric, money or date field makes it null. Character values are read without trailing blanks.
//
// Limits: a value the field's type cannot hold (money beyond TCurrency's range, a number that is
// not finite, an integer beyond 32 bits) raises EDbDatasetError naming the field and its table
// ("field GROSS_WAGE of table P_HTRX: 1e+15 is outside the range of money (...)") when it is
// written, and when it is read as that type from a table that holds it nevertheless (a damaged or
// foreign table). Read as text, such a value is shown as stored.
#pragma once

#include "db/DbErrors.h"
#include "db/DbTypes.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace peltorn::db {

class TDataSet;
class TDbConnection;
class TDbTable;

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

class TField {
public:
    // table: where the field's values come from, when the owner is not a table itself (the
    // column of a statement); empty when not known.
    TField(TDataSet& owner, int index, std::string name, TFieldType type, int size,
           std::string table = {});

    const std::string& FieldName() const { return m_name; }
    // The table the field's values come from: the owning table's name, or the table a
    // statement's column selects from; empty for a computed column.
    std::string TableName() const;
    // "field GROSS_WAGE of table P_HTRX", or "field TOTAL" where the table is not known: how
    // errors name the field.
    std::string Describe() const;
    TFieldType DataType() const { return m_type; }
    int Size() const { return m_size; }
    int Index() const { return m_index; }  // 0-based position in the dataset
    bool IsLookup() const { return m_lookup != nullptr; }

    bool IsNull() const;
    // Reading. Text of a date uses the engine's date format (TDbSettings), of a number
    // FormatFloat, of money TCurrency::ToString, of a logical "T"/"F".
    std::string AsString() const;
    // A text that is not a number, or a value beyond 32 bits, raises EDbDatasetError.
    std::int32_t AsInteger() const;
    double AsFloat() const;        // the stored number as it is, infinity included
    TCurrency AsCurrency() const;  // beyond money's range or not finite: EDbDatasetError
    TDateTime AsDateTime() const;
    bool AsBoolean() const;
    TDbValue AsVariant() const;

    // Writing: only in edit or insert state (else EDbDatasetError "Dataset not in edit or insert
    // mode"). A value that does not convert to the field's type, or that the type cannot hold,
    // raises EDbDatasetError naming the field and the value; text longer than a character field
    // is cut to its width (CutToWidth: never inside a character).
    void SetAsString(std::string_view value);
    void SetAsInteger(std::int32_t value);
    void SetAsFloat(double value);
    void SetAsCurrency(TCurrency value);
    void SetAsDateTime(TDateTime value);
    void SetAsBoolean(bool value);
    void SetAsVariant(const TDbValue& value);
    void Clear();  // null

    // Lookup field: the result field of another dataset's record whose key fields equal this
    // dataset's key fields. Display only.
    struct LookupDef {
        std::vector<std::string> KeyFields;
        TDbTable* LookupDataSet = nullptr;
        std::vector<std::string> LookupKeyFields;
        std::string ResultField;
    };
    void SetLookup(std::unique_ptr<LookupDef> def) { m_lookup = std::move(def); }
    const LookupDef* Lookup() const { return m_lookup.get(); }

private:
    const TDbValue& Value() const;
    void Assign(TDbValue value);
    [[noreturn]] void Refuse(const std::string& reason) const;
    // The value as the 32-bit integer it must be, or EDbDatasetError.
    std::int32_t CheckedInteger(std::int64_t value) const;
    std::int32_t CheckedInteger(double value) const;
    TCurrency CheckedCurrency(double value) const;
    double CheckedFinite(double value) const;

    TDataSet& m_owner;
    int m_index;
    std::string m_name;
    TFieldType m_type;
    int m_size;
    std::string m_table;
    std::unique_ptr<LookupDef> m_lookup;
};

class TDataSet {
public:
    explicit TDataSet(std::string name);
    virtual ~TDataSet();
    TDataSet(const TDataSet&) = delete;
    TDataSet& operator=(const TDataSet&) = delete;

    const std::string& Name() const { return m_name; }

    // Only while closed.
    void SetConnection(TDbConnection* connection);
    TDbConnection* Connection() const { return m_connection; }

    // Called first and last by Open.
    std::function<void(TDataSet&)> BeforeOpen;
    std::function<void(TDataSet&)> AfterOpen;

    // Opening connects a disconnected connection with the settings in force.
    void Open();
    void Close();
    bool Active() const { return m_state != TDataSetState::dsInactive; }
    void SetActive(bool active) { active ? Open() : Close(); }
    TDataSetState State() const { return m_state; }

    // Navigation. Eof is true on an empty dataset and after Next on the last record (the last
    // record stays current). Bof likewise at the start.
    virtual void First() = 0;
    virtual void Next() = 0;
    virtual void Prior() = 0;
    virtual void Last() = 0;
    bool Eof() const;
    bool Bof() const;
    virtual int RecordCount() = 0;
    bool IsEmpty();

    // "Field '%s' not found" for a missing name.
    TField& FieldByName(std::string_view name);
    TField* FindField(std::string_view name);
    TField& Fields(int index);
    int FieldCount() const { return static_cast<int>(m_fields.size()); }

    // Editing. Post writes the record at once (a key or constraint violation raises
    // EDbDatabaseError and nothing is written; the record stays in edit state).
    virtual void Append();
    virtual void Edit();
    virtual void Post();
    virtual void Cancel();
    virtual void Delete();

    // Adds a lookup field named name (display only), computed from lookupDataSet.
    void AddLookupField(const std::string& name, const std::string& keyFields,
                        TDbTable& lookupDataSet, const std::string& lookupKeyFields,
                        const std::string& resultField, int size);

    // Layer internals.
    virtual void ConnectionClosing();
    void AddDetail(TDbTable* detail);
    void RemoveDetail(TDbTable* detail);
    const TDbValue& CurrentValue(int index) const;
    void SetCurrentValue(int index, TDbValue value);
    bool HasCurrentRecord() const { return m_hasRecord; }
    // Changes whenever the current record changes (master links follow it).
    std::uint64_t MoveStamp() const { return m_moveStamp; }
    void CheckActive() const;

protected:
    virtual void DoOpen() = 0;
    virtual void DoClose() = 0;
    virtual void DoPost() = 0;
    virtual void DoDelete() = 0;
    virtual void DoEdit() {}
    virtual void DoAppend();
    virtual void DoCancel() {}
    TDbValue LookupValue(const TField& field) const;
    // The current record changed: master links follow.
    void RecordChanged();

    struct FieldInfo {
        std::string Name;
        TFieldType Type;
        int Size;
        std::string Table = {};  // the table of a statement's column, if known
    };
    void DefineFields(const std::vector<FieldInfo>& fields);
    void ClearFields();

    std::string m_name;
    TDbConnection* m_connection = nullptr;
    TDataSetState m_state = TDataSetState::dsInactive;
    std::vector<std::unique_ptr<TField>> m_fields;
    std::vector<TDbValue> m_buffer;  // the current record (or the record being edited)
    std::vector<bool> m_modified;    // fields assigned since Edit/Append
    bool m_hasRecord = false;
    bool m_eof = true;
    bool m_bof = true;
    std::uint64_t m_moveStamp = 1;
    std::vector<TDbTable*> m_details;  // tables master-linked to this dataset
    // The fields by name in upper case, the first of equal names: the run looks fields up by
    // name record after record, and a table of the payroll has well over a hundred of them.
    std::unordered_map<std::string, TField*> m_fieldsByName;
    void IndexField(TField& field);

    friend class TField;

private:
    struct PendingLookup {
        std::string Name, KeyFields, LookupKeyFields, ResultField;
        TDbTable* LookupDataSet;
        int Size;
    };
    std::vector<PendingLookup> m_lookups;
    void AttachLookups();
};

}  // namespace peltorn::db
