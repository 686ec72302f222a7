// The record transfer. Every table the run copies passes through here one record at a time; the
// destination table's name chooses the rule below (update a matching record or add one), then the
// fields are copied by name and by the source field's type, and the record is posted.
//
// The rule table has the shape of the system's own: destination table, the index made current
// here, the key values in order, what happens when found / not found, the progress text. Key
// values are texts; the database layer converts them to the index fields' types. Where a rule
// says "field n", n counts the source fields from 1 in column order, which is why the column order
// of the company tables matters (see schema/Catalogue.cpp).
#include "run/TransferRecord.h"

#include "run/MergeRun.h"
#include "run/RunTexts.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace peltorn::run {

namespace {

// One key value of a lookup: a source field by position or by name, or the employee code.
struct TKey {
    enum class Kind { Position, Name, EmployeeCode } What;
    int Position = 0;
    const char* Name = nullptr;
};
constexpr TKey Fld(int position) { return {TKey::Kind::Position, position, nullptr}; }
constexpr TKey Named(const char* name) { return {TKey::Kind::Name, 0, name}; }
constexpr TKey Emp() { return {TKey::Kind::EmployeeCode, 0, nullptr}; }

enum class TMatch {
    UpdateOrAdd,          // FindKey: Edit when found, Append when not
    AlwaysAdd,            // Append, no lookup
    AddUnlessNoEmployee,  // Append; a source record with an empty EMPCODE is left out entirely
};
enum class TProgress { None, FormA, FormB };

struct TRecordRule {
    std::vector<std::string_view> Tables;
    const char* IndexMadeCurrent;  // "" = the caller's index (or none)
    std::vector<TKey> Keys;
    TMatch Match;
    TProgress Progress;
};

using enum TMatch;
using enum TProgress;

// clang-format off
const std::vector<TRecordRule>& RecordRules() {
    static const std::vector<TRecordRule> rules = {
        // Destination table           Index made current here  Key values, in order                     Found / not found     Progress
        {{"PPARA_DR"},                  "YEAR;DAY_DESC",     {Named("YEAR"), Named("DAY_DESC")},          UpdateOrAdd,         None},
        {{"PPARA_OT"},                  "YEAR;OTTYPE",       {Named("YEAR"), Named("OTTYPE")},            UpdateOrAdd,         None},
        {{"PPARA_SF"},                  "YEAR;SHIFT_STATUS", {Named("YEAR"), Named("SHIFT_STATUS")},      UpdateOrAdd,         None},
        {{"PAY_BANK"},                  "",                  {Named("BANK_ID"), Named("BANK_BRANCH")},    UpdateOrAdd,         None},
        {{"COSTCTR"},                   "",                  {},                                          AddUnlessNoEmployee, None},
        {{"CYCLE"},                     "",                  {Named("PERIOD"), Named("CYCLE")},           UpdateOrAdd,         None},
        {{"EXRATE"},                    "",                  {},                                          AlwaysAdd,           None},
        {{"CODE"},                      "",                  {Named("CATEGORY"), Named("CODE")},          UpdateOrAdd,         None},
        {{"ALLOWNCE"},                  "",                  {Fld(1), Fld(2)},                            UpdateOrAdd,         None},
        {{"PGRP_HDR"},                  "",                  {Fld(1), Fld(2)},                            UpdateOrAdd,         None},
        {{"PGRP_TRX"},                  "",                  {Fld(1), Fld(2), Fld(3)},                    UpdateOrAdd,         None},
        {{"EMP_PROS"},                  "",                  {Emp(), Fld(2), Fld(3)},                     UpdateOrAdd,         FormA},
        {{"EMP_OTH"},                   "",                  {Emp(), Fld(2)},                             UpdateOrAdd,         FormA},
        {{"EMP_ALW"},                   "",                  {},                                          AlwaysAdd,           None},
        {{"EMP_BNK"},                   "",                  {Emp(), Fld(2), Fld(3)},                     UpdateOrAdd,         FormA},  // then TRXID
        {{"PAYPARA1"},                  "",                  {Fld(1)},                                    UpdateOrAdd,         None},
        {{"EMPLOYEE", "EMPMISC", "EMPLOYMT"}, "",            {Emp()},                                     UpdateOrAdd,         FormA},
        // The caller's index is LEAVE_CODE;EMPCODE;DATE: leave code (field 2) first, then the
        // employee code and the date (field 3), so that a leave transaction merged before is
        // found and updated rather than added once more on every run.
        {{"LEAV_TRX"},                  "",                  {Fld(2), Emp(), Fld(3)},                     UpdateOrAdd,         None},
        {{"EMPLEAVE"},                  "",                  {Emp(), Named("START_DATE"), Named("LEAVE_CODE"), Named("ID")}, UpdateOrAdd, FormA},
        {{"EMP_LVTX"},                  "",                  {Fld(1), Emp(), Fld(3), Fld(4), Fld(5)},     UpdateOrAdd,         FormA},
        {{"EMPENT"},                    "",                  {Emp(), Fld(2), Fld(3)},                     UpdateOrAdd,         FormA},
        {{"YTDEMPL"},                   "",                  {Emp(), Fld(2), Fld(3)},                     UpdateOrAdd,         FormA},
        {{"P_DTRXLV", "P_DTRXAW"},      "",                  {},                                          AlwaysAdd,           None},
        {{"P_DTRXAS", "P_DTRXNH", "P_DTRXND", "P_DTRXSF", "P_DTRXRD", "P_DTRXOT"},
                                        "",                  {Fld(1), Fld(2), Emp(), Fld(4)},             UpdateOrAdd,         FormA},
        {{"P_HTRX"},                    "",                  {Fld(1), Fld(2), Emp()},                     UpdateOrAdd,         FormA},
    };
    return rules;
}
// clang-format on

// Any other table (MEDICAL, the general-ledger tables, RTPHD, RTPDETL): always added, form B.
const TRecordRule kOtherTables{{}, "", {}, AlwaysAdd, FormB};

const TRecordRule& RuleFor(const std::string& table) {
    for (const auto& rule : RecordRules())
        for (auto name : rule.Tables)
            if (name == table) return rule;
    return kOtherTables;
}

std::string KeyValue(TFormMerge& form, const TKey& key) {
    switch (key.What) {
        case TKey::Kind::Position: return form.tblSource.Fields(key.Position - 1).AsString();
        case TKey::Kind::Name: return form.tblSource.FieldByName(key.Name).AsString();
        case TKey::Kind::EmployeeCode: break;
    }
    return form.CurrentEmpCode;
}

std::string ProgressText(TFormMerge& form, TProgress progress, const std::string& table) {
    if (progress == FormA)
        return form.SourceDbPath + kPathSeparator + table + kProgressUpdating + form.CurrentEmpCode;
    return kProgressUpdatingB + form.SourceDbPath + kPathSeparator + table;
}

bool IsEmployeeCodeField(const std::string& name) {
    return name == kEmpCode || name == kEmpNo || name == kEmpCodeAlt;
}

// EMP_BNK keeps the source's TRXID numbers, also when the source numbers them itself.
void CarryTrxid(TFormMerge& form) {
    db::TField* source = form.tblSource.FindField(kTrxid);
    db::TField* dest = form.tblDest.FindField(kTrxid);
    if (!source || !dest) return;
    const int trxid = source->AsInteger();
    OnDestination(form, [&] { dest->SetAsInteger(trxid); });
}

// Each value is read from the source field first and then written into the destination field,
// so that a failure names the database whose field could not take or give the value.
void CopyFields(TFormMerge& form, const std::string& table) {
    db::TDbQuery& src = form.tblSource;
    for (int i = 0; i < src.FieldCount(); ++i) {
        db::TField& field = src.Fields(i);
        db::TField* dest = form.tblDest.FindField(field.FieldName());
        if (!dest) continue;
        const db::TFieldType type = field.DataType();
        if (type == db::TFieldType::ftAutoInc || type == db::TFieldType::ftGraphic) continue;
        // The destination's own tax classification of an allowance is kept.
        if (table == kAllownce && field.FieldName() == kEaIra) continue;
        if (IsEmployeeCodeField(field.FieldName())) {
            OnDestination(form, [&] { dest->SetAsString(form.CurrentEmpCode); });
            continue;
        }
        switch (type) {
            case db::TFieldType::ftString: {
                const std::string value = field.AsString();
                OnDestination(form, [&] { dest->SetAsString(value); });
                break;
            }
            case db::TFieldType::ftInteger: {
                const int value = field.AsInteger();
                OnDestination(form, [&] { dest->SetAsInteger(value); });
                break;
            }
            case db::TFieldType::ftFloat:
            case db::TFieldType::ftCurrency: {
                // Money goes across as a number, as it always has; a value the source's own money
                // field cannot hold (a damaged source) is refused while reading it, as the
                // source's.
                if (type == db::TFieldType::ftCurrency) static_cast<void>(field.AsCurrency());
                const double value = field.AsFloat();
                OnDestination(form, [&] { dest->SetAsFloat(value); });
                break;
            }
            case db::TFieldType::ftDate: {
                const db::TDateTime value = field.AsDateTime();
                OnDestination(form, [&] {
                    // An empty source date stays empty (null), never the zero date.
                    dest->SetAsDateTime(value);
                    if (dest->AsDateTime() == 0) dest->Clear();
                });
                break;
            }
            default: {
                const auto value = field.AsVariant();
                OnDestination(form, [&] { dest->SetAsVariant(value); });  // null stays null
                break;
            }
        }
    }
}

// A record that failed is not written: its edit is dropped so that no later post, close or flush
// of the table writes it after all.
void DropEdit(db::TDbTable& dest) noexcept {
    try {
        dest.Cancel();
    } catch (...) {
        // The run ends with the first error; a failing cancel must not replace it.
    }
}

}  // namespace

void TransferRecord(TFormMerge& form) {
    form.ProcessMessages();

    db::TDbTable& dest = form.tblDest;
    const std::string table = dest.TableName();
    const TRecordRule& rule = RuleFor(table);

    if (rule.Match == AddUnlessNoEmployee &&
        form.tblSource.FieldByName(kEmpCode).AsString().empty()) {
        if (run::TTransferCount* count = form.TransferBeingCounted) {
            ++count->Skipped;
            count->SkipReason = kSkipNoEmployee;
        }
        return;
    }
    if (rule.Progress != None) form.Controls.edit2 = ProgressText(form, rule.Progress, table);

    bool found = false;
    if (rule.Match == UpdateOrAdd) {
        OnDestination(form, [&] {
            if (*rule.IndexMadeCurrent) dest.SetIndexFieldNames(rule.IndexMadeCurrent);
        });
        std::vector<std::string> values;
        values.reserve(rule.Keys.size());
        for (const auto& key : rule.Keys) values.push_back(KeyValue(form, key));
        OnDestination(form, [&] {
            found = dest.FindKey(values);
            if (found)
                dest.Edit();
            else
                dest.Append();
        });
    } else {
        OnDestination(form, [&] { dest.Append(); });
    }

    try {
        if (table == kEmpBnk) CarryTrxid(form);
        CopyFields(form, table);
    } catch (const db::EDbDatasetError& e) {
        // A value the destination's field cannot hold (or a source value its own field cannot):
        // the operator learns whose record it is, the message names the field and the table.
        DropEdit(dest);
        throw EMergeError(kErrEmployeePrefix + form.CurrentEmpCode + " " + e.what());
    } catch (...) {
        DropEdit(dest);
        throw;
    }

    try {
        dest.Post();
    } catch (const std::exception& e) {
        FailedInDestination(form);
        DropEdit(dest);
        throw EMergeError(kErrEmployeePrefix + form.CurrentEmpCode + " " + e.what());
    }
    ++form.RecordsTransferred;
    if (run::TTransferCount* count = form.TransferBeingCounted)
        ++(found ? count->Updated : count->Added);
}

}  // namespace peltorn::run
