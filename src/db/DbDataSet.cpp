// TField and TDataSet: typed access to the current record, the null rules, edit states and the
// lookup fields.
//
// Values are held in the form the table files store them: text for character, memo and date
// fields (dates as YYYY-MM-DD), integers for integer and logical fields, doubles for floating
// point and money (money rounded to four decimals on every write), blobs for binary fields.
//
// What a field's type cannot hold is refused by name rather than wrapped: the payroll tables are
// read from many companies' databases, and a wrapped amount or number would be merged as if it
// were true. Shown as text, the value appears as stored, so that an administrator inspecting a
// damaged table sees what is there.
#include "db/DbDataSet.h"

#include "db/DbConnection.h"
#include "db/DbInternal.h"
#include "db/DbSettings.h"
#include "db/DbTable.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace peltorn::db {

using detail::EqualsNoCase;

namespace {

const char* kNotEditing = "Dataset not in edit or insert mode";

bool IsIntegerType(TFieldType t) {
    return t == TFieldType::ftInteger || t == TFieldType::ftSmallint || t == TFieldType::ftAutoInc;
}
bool IsDateType(TFieldType t) {
    return t == TFieldType::ftDate || t == TFieldType::ftDateTime || t == TFieldType::ftTime;
}

std::string RTrimBlanks(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

bool ParseDouble(std::string_view text, double& out) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    auto res = std::from_chars(text.data(), text.data() + text.size(), out);
    return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

bool ParseInt64(std::string_view text, std::int64_t& out) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    auto res = std::from_chars(text.data(), text.data() + text.size(), out);
    return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

constexpr std::int64_t kMinInteger = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMaxInteger = std::numeric_limits<std::int32_t>::max();

std::string IntegerRangeText() {
    return "(" + std::to_string(kMinInteger) + " to " + std::to_string(kMaxInteger) + ")";
}

// The dates the date fields take: 0001-01-01 to 9999-12-31 (the time of its last day included).
bool InDateRange(TDateTime value) {
    static const TDateTime first = EncodeDate(1, 1, 1);
    static const TDateTime last = EncodeDate(9999, 12, 31) + 1;
    return value >= first && value < last;
}

// Stored date text ("YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" or "HH:MM:SS") to a date-time.
TDateTime StoredToDateTime(const std::string& text) {
    if (text.size() >= 10 && text[4] == '-') {
        TDateTime d = ParseIsoDate(std::string_view(text).substr(0, 10));
        if (text.size() >= 19) {
            int h = std::stoi(text.substr(11, 2)), m = std::stoi(text.substr(14, 2)),
                s = std::stoi(text.substr(17, 2));
            d += (h * 3600 + m * 60 + s) / 86400.0;
        }
        return d;
    }
    if (text.size() == 8 && text[2] == ':') {
        int h = std::stoi(text.substr(0, 2)), m = std::stoi(text.substr(3, 2)),
            s = std::stoi(text.substr(6, 2));
        return (h * 3600 + m * 60 + s) / 86400.0;
    }
    return 0;
}

}  // namespace

// ---- TField ----

TField::TField(TDataSet& owner, int index, std::string name, TFieldType type, int size,
               std::string table)
    : m_owner(owner),
      m_index(index),
      m_name(std::move(name)),
      m_type(type),
      m_size(size),
      m_table(std::move(table)) {}

std::string TField::TableName() const {
    if (!m_table.empty()) return m_table;
    if (const auto* table = dynamic_cast<const TDbTable*>(&m_owner)) return table->TableName();
    return {};
}

std::string TField::Describe() const {
    const std::string table = TableName();
    return "field " + m_name + (table.empty() ? "" : " of table " + table);
}

void TField::Refuse(const std::string& reason) const {
    throw EDbDatasetError(Describe() + ": " + reason);
}

std::int32_t TField::CheckedInteger(std::int64_t value) const {
    if (value < kMinInteger || value > kMaxInteger) {
        Refuse(std::to_string(value) + " is outside the range of an integer field " +
               IntegerRangeText());
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t TField::CheckedInteger(double value) const {
    CheckedFinite(value);
    // Rounded half away from zero, so the bounds are the halves beyond the last integers.
    if (!(value > static_cast<double>(kMinInteger) - 0.5 &&
          value < static_cast<double>(kMaxInteger) + 0.5)) {
        Refuse(FormatFloat(value) + " is outside the range of an integer field " +
               IntegerRangeText());
    }
    return static_cast<std::int32_t>(std::llround(value));
}

TCurrency TField::CheckedCurrency(double value) const {
    try {
        return TCurrency::FromDouble(value);
    } catch (const ECurrencyRange& e) {
        Refuse(e.what());
    }
}

double TField::CheckedFinite(double value) const {
    if (!std::isfinite(value)) Refuse(FormatFloat(value) + " is not a finite number");
    return value;
}

const TDbValue& TField::Value() const {
    static const TDbValue kNull;
    if (m_lookup) {
        static thread_local TDbValue looked;
        looked = m_owner.LookupValue(*this);
        return looked;
    }
    return m_owner.CurrentValue(m_index);
}

bool TField::IsNull() const { return Value().IsNull(); }

std::string TField::AsString() const {
    const TDbValue& v = Value();
    if (v.IsNull()) return {};
    if (v.IsText()) {
        if (m_type == TFieldType::ftDate) return FormatDate(StoredToDateTime(v.Text()));
        if (m_type == TFieldType::ftDateTime) {
            TDateTime dt = StoredToDateTime(v.Text());
            std::string text = FormatDate(dt);
            if (v.Text().size() >= 19 && v.Text().substr(11) != "00:00:00")
                text += " " + v.Text().substr(11);
            return text;
        }
        return RTrimBlanks(v.Text());
    }
    if (v.IsInteger()) {
        if (m_type == TFieldType::ftBoolean) return v.Integer() ? "True" : "False";
        // Whole money reads as the whole number, also beyond money's range.
        return std::to_string(v.Integer());
    }
    if (v.IsFloat()) {
        const double d = v.Float();
        // Beyond what the type holds, the value is shown as stored (FormatFloat).
        if (m_type == TFieldType::ftCurrency && TCurrency::Fits(d))
            return TCurrency::FromDouble(d).ToString();
        if (IsIntegerType(m_type) && std::isfinite(d) && std::fabs(d) < 9e18)
            return std::to_string(std::llround(d));
        return FormatFloat(d);
    }
    const TBlob& b = v.Blob();
    return std::string(b.begin(), b.end());
}

std::int32_t TField::AsInteger() const {
    const TDbValue& v = Value();
    if (v.IsNull()) return 0;
    if (v.IsInteger()) return CheckedInteger(v.Integer());
    if (v.IsFloat()) return CheckedInteger(v.Float());
    if (v.IsText()) {
        std::int64_t i = 0;
        if (ParseInt64(v.Text(), i)) return CheckedInteger(i);
        double d = 0;
        if (ParseDouble(v.Text(), d)) return CheckedInteger(d);
        if (RTrimBlanks(v.Text()).empty()) return 0;
    }
    throw EDbDatasetError("'" + AsString() + "' is not a valid integer value (field " + m_name +
                          ")");
}

double TField::AsFloat() const {
    const TDbValue& v = Value();
    if (v.IsNull()) return 0;
    if (v.IsFloat()) return v.Float();
    if (v.IsInteger()) return static_cast<double>(v.Integer());
    if (v.IsText()) {
        if (IsDateType(m_type)) return StoredToDateTime(v.Text());
        double d = 0;
        if (ParseDouble(v.Text(), d)) return d;
        if (RTrimBlanks(v.Text()).empty()) return 0;
    }
    throw EDbDatasetError("'" + AsString() + "' is not a valid floating point value (field " +
                          m_name + ")");
}

TCurrency TField::AsCurrency() const { return CheckedCurrency(AsFloat()); }

TDateTime TField::AsDateTime() const {
    const TDbValue& v = Value();
    if (v.IsNull()) return 0;
    if (v.IsText()) {
        if (IsDateType(m_type)) return StoredToDateTime(v.Text());
        try {
            return ParseDate(RTrimBlanks(v.Text()));
        } catch (const std::invalid_argument&) {
            throw EDbDatasetError("'" + v.Text() + "' is not a valid date (field " + m_name + ")");
        }
    }
    return AsFloat();
}

bool TField::AsBoolean() const {
    const TDbValue& v = Value();
    if (v.IsNull()) return false;
    if (v.IsInteger()) return v.Integer() != 0;
    if (v.IsFloat()) return v.Float() != 0;
    if (v.IsText()) {
        std::string t = detail::Upper(RTrimBlanks(v.Text()));
        return t == "T" || t == "TRUE" || t == "Y" || t == "YES" || t == "1";
    }
    return false;
}

TDbValue TField::AsVariant() const { return Value(); }

void TField::Assign(TDbValue value) {
    if (m_lookup) throw EDbDatasetError("Field " + m_name + " cannot be modified");
    m_owner.SetCurrentValue(m_index, std::move(value));
}

void TField::SetAsString(std::string_view value) {
    switch (m_type) {
        case TFieldType::ftString: {
            std::string s = RTrimBlanks(CutToWidth(RTrimBlanks(std::string(value)), m_size));
            Assign(TDbValue(std::move(s)));
            return;
        }
        case TFieldType::ftMemo: Assign(TDbValue(std::string(value))); return;
        case TFieldType::ftGraphic:
        case TFieldType::ftBlob: Assign(TDbValue(TBlob(value.begin(), value.end()))); return;
        default: break;
    }
    std::string text = RTrimBlanks(std::string(value));
    while (!text.empty() && text.front() == ' ') text.erase(text.begin());
    if (text.empty()) {
        Clear();
        return;
    }
    if (IsIntegerType(m_type)) {
        std::int64_t i = 0;
        if (!ParseInt64(text, i)) {
            throw EDbDatasetError("'" + text + "' is not a valid integer value for field " +
                                  m_name);
        }
        Assign(TDbValue(static_cast<std::int64_t>(CheckedInteger(i))));
        return;
    }
    if (m_type == TFieldType::ftFloat || m_type == TFieldType::ftCurrency) {
        double d = 0;
        if (!ParseDouble(text, d)) {
            throw EDbDatasetError("'" + text + "' is not a valid floating point value for field " +
                                  m_name);
        }
        SetAsFloat(d);
        return;
    }
    if (m_type == TFieldType::ftBoolean) {
        std::string t = detail::Upper(text);
        if (t == "T" || t == "TRUE" || t == "Y" || t == "YES" || t == "1")
            SetAsBoolean(true);
        else if (t == "F" || t == "FALSE" || t == "N" || t == "NO" || t == "0")
            SetAsBoolean(false);
        else
            throw EDbDatasetError("'" + text + "' is not a valid logical value for field " +
                                  m_name);
        return;
    }
    if (IsDateType(m_type)) {
        try {
            if (m_type == TFieldType::ftDate || text.size() <= 10) {
                SetAsDateTime(ParseDate(text));
            } else {
                // Date and time: the date by the date format, then hh:mm:ss.
                auto blank = text.find(' ');
                TDateTime d = ParseDate(text.substr(0, blank));
                std::string t = text.substr(blank + 1);
                int h = std::stoi(t.substr(0, 2)), mi = std::stoi(t.substr(3, 2)),
                    s = t.size() >= 8 ? std::stoi(t.substr(6, 2)) : 0;
                SetAsDateTime(d + (h * 3600 + mi * 60 + s) / 86400.0);
            }
        } catch (const std::exception&) {
            throw EDbDatasetError("'" + text + "' is not a valid date for field " + m_name);
        }
        return;
    }
    Assign(TDbValue(text));
}

void TField::SetAsInteger(std::int32_t value) {
    switch (m_type) {
        case TFieldType::ftString:
        case TFieldType::ftMemo: SetAsString(std::to_string(value)); return;
        case TFieldType::ftFloat: Assign(TDbValue(static_cast<double>(value))); return;
        case TFieldType::ftCurrency: Assign(TDbValue(static_cast<double>(value))); return;
        case TFieldType::ftBoolean: Assign(TDbValue(value != 0 ? 1 : 0)); return;
        default:
            if (IsDateType(m_type)) {
                SetAsDateTime(value);
                return;
            }
            Assign(TDbValue(static_cast<std::int64_t>(value)));
    }
}

void TField::SetAsFloat(double value) {
    switch (m_type) {
        case TFieldType::ftString:
        case TFieldType::ftMemo: SetAsString(FormatFloat(value)); return;
        // The table would keep a NaN as null, and an infinity is no quantity the payroll means:
        // neither is written.
        case TFieldType::ftFloat: Assign(TDbValue(CheckedFinite(value))); return;
        case TFieldType::ftCurrency: Assign(TDbValue(CheckedCurrency(value).ToDouble())); return;
        case TFieldType::ftBoolean: Assign(TDbValue(value != 0 ? 1 : 0)); return;
        default:
            if (IsDateType(m_type)) {
                SetAsDateTime(value);
                return;
            }
            if (IsIntegerType(m_type)) {
                Assign(TDbValue(static_cast<std::int64_t>(CheckedInteger(value))));
                return;
            }
            throw EDbDatasetError("Field " + m_name + " does not take a number");
    }
}

void TField::SetAsCurrency(TCurrency value) {
    if (m_type == TFieldType::ftString || m_type == TFieldType::ftMemo) {
        SetAsString(value.ToString());
        return;
    }
    // Any amount is already four decimals: stored as the nearest double, not rounded again.
    if (m_type == TFieldType::ftCurrency || m_type == TFieldType::ftFloat) {
        Assign(TDbValue(value.ToDouble()));
        return;
    }
    SetAsFloat(value.ToDouble());
}

void TField::SetAsDateTime(TDateTime value) {
    if (!IsDateType(m_type)) {
        if (m_type == TFieldType::ftString || m_type == TFieldType::ftMemo) {
            SetAsString(value == 0 ? std::string() : FormatDate(value));
            return;
        }
        SetAsFloat(value);
        return;
    }
    // The zero date is the empty date: it is stored as null.
    if (value == 0) {
        Clear();
        return;
    }
    CheckedFinite(value);
    if (!InDateRange(value))
        Refuse(FormatFloat(value) + " is outside the range of dates (0001-01-01 to 9999-12-31)");
    if (m_type == TFieldType::ftDate)
        Assign(TDbValue(FormatIsoDate(value)));
    else if (m_type == TFieldType::ftDateTime)
        Assign(TDbValue(FormatIsoDateTime(value)));
    else
        Assign(TDbValue(FormatIsoDateTime(value).substr(11)));
}

void TField::SetAsBoolean(bool value) {
    if (m_type == TFieldType::ftString || m_type == TFieldType::ftMemo) {
        SetAsString(value ? "T" : "F");
        return;
    }
    Assign(TDbValue(value ? 1 : 0));
}

void TField::SetAsVariant(const TDbValue& value) {
    if (value.IsNull())
        Clear();
    else if (value.IsInteger()) {
        if (IsIntegerType(m_type))
            Assign(TDbValue(static_cast<std::int64_t>(CheckedInteger(value.Integer()))));
        else if (m_type == TFieldType::ftBoolean)
            Assign(value);
        else
            SetAsFloat(static_cast<double>(value.Integer()));
    } else if (value.IsFloat())
        SetAsFloat(value.Float());
    else if (value.IsText()) {
        if (IsDateType(m_type) && value.Text().size() >= 8 &&
            (value.Text()[4] == '-' || value.Text()[2] == ':')) {
            Assign(value);  // already in the stored form
        } else {
            SetAsString(value.Text());
        }
    } else
        Assign(value);
}

void TField::Clear() { Assign(TDbValue()); }

// ---- TDataSet ----

TDataSet::TDataSet(std::string name) : m_name(std::move(name)) {}

TDataSet::~TDataSet() {
    for (TDbTable* detail : std::vector<TDbTable*>(m_details)) detail->SetMasterSource(nullptr, {});
    if (m_connection) m_connection->UnregisterDataSet(this);
}

void TDataSet::SetConnection(TDbConnection* connection) {
    if (Active()) throw EDbDatasetError("Cannot perform this operation on an open dataset");
    if (m_connection) m_connection->UnregisterDataSet(this);
    m_connection = connection;
    if (m_connection) m_connection->RegisterDataSet(this);
}

void TDataSet::CheckActive() const {
    if (!Active())
        throw EDbDatasetError("Cannot perform this operation on a closed dataset (" + m_name + ")");
}

void TDataSet::Open() {
    if (Active()) return;
    if (!m_connection) throw EDbDatasetError("No connection assigned to " + m_name);
    if (BeforeOpen) BeforeOpen(*this);
    m_connection->Connect();
    DoOpen();
    m_state = TDataSetState::dsBrowse;
    AttachLookups();
    RecordChanged();
    if (AfterOpen) AfterOpen(*this);
}

void TDataSet::Close() {
    if (!Active()) return;
    m_state = TDataSetState::dsInactive;
    DoClose();
    ClearFields();
    m_hasRecord = false;
    m_eof = m_bof = true;
    RecordChanged();
}

void TDataSet::ConnectionClosing() { Close(); }

bool TDataSet::Eof() const { return !Active() || m_eof; }
bool TDataSet::Bof() const { return !Active() || m_bof; }
bool TDataSet::IsEmpty() { return !Active() || (First(), !m_hasRecord); }

TField& TDataSet::FieldByName(std::string_view name) {
    if (TField* f = FindField(name)) return *f;
    throw EDbDatasetError("Field '" + std::string(name) + "' not found");
}

TField* TDataSet::FindField(std::string_view name) {
    std::string upper(name);
    for (char& c : upper) c = detail::UpperAscii(c);
    const auto found = m_fieldsByName.find(upper);
    return found == m_fieldsByName.end() ? nullptr : found->second;
}

void TDataSet::IndexField(TField& field) {
    std::string upper = field.FieldName();
    for (char& c : upper) c = detail::UpperAscii(c);
    m_fieldsByName.emplace(std::move(upper), &field);  // an earlier field of the name stays
}

TField& TDataSet::Fields(int index) {
    if (index < 0 || index >= FieldCount()) {
        throw EDbDatasetError("Field index " + std::to_string(index) + " out of range (" + m_name +
                              ")");
    }
    return *m_fields[static_cast<std::size_t>(index)];
}

const TDbValue& TDataSet::CurrentValue(int index) const {
    static const TDbValue kNull;
    if (index < 0 || static_cast<std::size_t>(index) >= m_buffer.size()) return kNull;
    if (!m_hasRecord && m_state == TDataSetState::dsBrowse) return kNull;
    return m_buffer[static_cast<std::size_t>(index)];
}

void TDataSet::SetCurrentValue(int index, TDbValue value) {
    if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert) {
        throw EDbDatasetError(std::string(kNotEditing) + " (" + m_name + ")");
    }
    m_buffer[static_cast<std::size_t>(index)] = std::move(value);
    m_modified[static_cast<std::size_t>(index)] = true;
}

void TDataSet::DoAppend() {
    for (auto& v : m_buffer) v = TDbValue();
    std::fill(m_modified.begin(), m_modified.end(), false);
}

void TDataSet::Append() {
    CheckActive();
    if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert) Post();
    DoAppend();
    m_state = TDataSetState::dsInsert;
}

void TDataSet::Edit() {
    CheckActive();
    if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert) return;
    if (!m_hasRecord) {
        // Editing an empty dataset starts a new record, as the grids expect.
        Append();
        return;
    }
    DoEdit();
    std::fill(m_modified.begin(), m_modified.end(), false);
    m_state = TDataSetState::dsEdit;
}

void TDataSet::Post() {
    CheckActive();
    if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert) return;
    DoPost();
    m_state = TDataSetState::dsBrowse;
    RecordChanged();
}

void TDataSet::Cancel() {
    if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert) return;
    // An edit that assigned no field still holds the record as it was read.
    const bool untouched =
        m_state == TDataSetState::dsEdit &&
        std::find(m_modified.begin(), m_modified.end(), true) == m_modified.end();
    m_state = TDataSetState::dsBrowse;
    if (!untouched) DoCancel();  // back to the record as stored
}

void TDataSet::RecordChanged() {
    ++m_moveStamp;
    for (TDbTable* detail : std::vector<TDbTable*>(m_details)) detail->MasterMoved();
}

void TDataSet::AddDetail(TDbTable* detail) { m_details.push_back(detail); }

void TDataSet::RemoveDetail(TDbTable* detail) { std::erase(m_details, detail); }

void TDataSet::Delete() {
    CheckActive();
    if (m_state == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    if (!m_hasRecord)
        throw EDbDatasetError("Cannot perform this operation on an empty dataset (" + m_name + ")");
    m_state = TDataSetState::dsBrowse;
    DoDelete();
    RecordChanged();
}

void TDataSet::DefineFields(const std::vector<FieldInfo>& fields) {
    m_fields.clear();
    m_fieldsByName.clear();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        m_fields.push_back(std::make_unique<TField>(*this, static_cast<int>(i), fields[i].Name,
                                                    fields[i].Type, fields[i].Size,
                                                    fields[i].Table));
        IndexField(*m_fields.back());
    }
    m_buffer.assign(fields.size(), TDbValue());
    m_modified.assign(fields.size(), false);
}

void TDataSet::ClearFields() {
    m_fields.clear();
    m_fieldsByName.clear();
    m_buffer.clear();
    m_modified.clear();
}

void TDataSet::AddLookupField(const std::string& name, const std::string& keyFields,
                              TDbTable& lookupDataSet, const std::string& lookupKeyFields,
                              const std::string& resultField, int size) {
    m_lookups.push_back({name, keyFields, lookupKeyFields, resultField, &lookupDataSet, size});
    if (Active()) AttachLookups();
}

void TDataSet::AttachLookups() {
    for (const auto& l : m_lookups) {
        if (FindField(l.Name)) continue;
        auto field = std::make_unique<TField>(*this, static_cast<int>(m_fields.size()), l.Name,
                                              TFieldType::ftString, l.Size);
        auto def = std::make_unique<TField::LookupDef>();
        def->KeyFields = SplitFieldList(l.KeyFields);
        def->LookupDataSet = l.LookupDataSet;
        def->LookupKeyFields = SplitFieldList(l.LookupKeyFields);
        def->ResultField = l.ResultField;
        field->SetLookup(std::move(def));
        m_fields.push_back(std::move(field));
        IndexField(*m_fields.back());
    }
}

TDbValue TDataSet::LookupValue(const TField& field) const {
    const auto* def = field.Lookup();
    if (!def || !def->LookupDataSet) return {};
    auto* self = const_cast<TDataSet*>(this);
    std::vector<TDbValue> values;
    for (const auto& key : def->KeyFields) {
        TField* f = self->FindField(key);
        if (!f || f->IsLookup()) return {};
        values.push_back(f->AsVariant());
    }
    TDbValue v = def->LookupDataSet->LookupResult(def->LookupKeyFields, values, def->ResultField);
    if (v.IsText() && field.Size() > 0 && static_cast<int>(v.Text().size()) > field.Size()) {
        return TDbValue(CutToWidth(v.Text(), field.Size()));
    }
    return v;
}

}  // namespace peltorn::db
