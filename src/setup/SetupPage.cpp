// Handlers of the "Setup" page. The page edits the merge groups the run walks: MERGRHD (one row
// per destination) and, master-linked on NO, MERGEDTL (its sources). Rows are written when the
// grid's row changes (the layer posts on every move), when a grid loses the focus (the exit
// handlers here) and by the marking of all groups.
#include "setup/SetupPage.h"

#include "support/StrUtil.h"

namespace peltorn::setup {

namespace {

bool IsEditing(const db::TDataSet& dataset) {
    return dataset.State() == db::TDataSetState::dsEdit ||
           dataset.State() == db::TDataSetState::dsInsert;
}

void PostIfEditing(db::TDataSet& dataset) {
    if (IsEditing(dataset)) dataset.Post();
}

// F4 in a grid: the question, then the current row of that grid's table goes.
void DeleteOnF4(TFormMerge& form, db::TDbTable& table, int key) {
    if (key != kKeyF4) return;
    // Nothing to delete: asking would only confuse the operator.
    if (!table.Active()) return;
    if (table.State() != db::TDataSetState::dsInsert && !table.HasCurrentRecord()) return;
    if (!form.Operator().Ask(kDeleteQuestion)) return;
    table.Delete();  // a row being inserted is discarded
}

void AddDescLookup(TFormMerge& form, db::TDbTable& table) {
    table.AddLookupField(kFieldDesc, kFieldCode, form.TableMCompany1, kFieldCompanyCode,
                         kFieldCompanyName, kDescWidth);
}

}  // namespace

void InstallSetupHandlers(TFormMerge& form) {
    form.TableMCompany.OnFilterRecord = TableMCompanyFilterRecord;
    AddDescLookup(form, form.TableMerge);
    AddDescLookup(form, form.TableMergeDTL);
}

bool TableMCompanyFilterRecord(db::TDbTable& table) {
    return support::SubStr(table.FieldByName(kFieldCompanyCode).AsString(), 1, 1) ==
           kConsolidatedMark;
}

void DBLookupCombo1Enter(TFormMerge& form) {
    form.TableMCompany.First();
    form.TableMCompany.SetFiltered(true);
}

void DBLookupCombo2Enter(TFormMerge& form) {
    form.TableMCompany.First();
    form.TableMCompany.SetFiltered(false);
}

void DBGrid1Exit(TFormMerge& form) { PostIfEditing(form.TableMerge); }

int CurrentGroupNo(TFormMerge& form) {
    db::TDbTable& groups = form.TableMerge;
    if (!groups.Active()) return 0;
    if (groups.State() != db::TDataSetState::dsInsert && !groups.HasCurrentRecord()) return 0;
    return groups.FieldByName(kFieldNo).AsInteger();
}

void DBGrid2Enter(TFormMerge& form) {
    // A source row takes its NO from the current group: without a group it would belong nowhere.
    form.Controls.DBGrid2ReadOnly = CurrentGroupNo(form) == 0;
}

void DBGrid2Exit(TFormMerge& form) { PostIfEditing(form.TableMergeDTL); }

void DBGrid1KeyDown(TFormMerge& form, int key) { DeleteOnF4(form, form.TableMerge, key); }

void DBGrid2KeyDown(TFormMerge& form, int key) { DeleteOnF4(form, form.TableMergeDTL, key); }

void RadioGroup1Click(TFormMerge& form) {
    const int item = form.Controls.RadioGroup1ItemIndex;
    if (item < 0) return;
    const char* mark = item == kCheckAll ? kSelected : kNotSelected;
    db::TDbTable& groups = form.TableMerge;
    for (groups.First(); !groups.Eof(); groups.Next()) {
        groups.Edit();
        groups.FieldByName(kFieldMaster).SetAsString(mark);
        groups.Post();
    }
}

}  // namespace peltorn::setup
