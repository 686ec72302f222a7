// The "Setup" page of the main window as the engine sees it: the handlers of its grids, company
// drop-downs and "Select Company to merge" radio group, working on the merge set-up tables of the
// main database (MERGRHD in DBGrid1, MERGEDTL in DBGrid2, MCOMPANY behind the drop-downs).
//
// The front ends call these when the matching event happens on their controls; the handlers
// raise the database layer's errors (a second group with the same NO, a closed table), which the
// front end shows with the standard error report.
#pragma once

#include "startup/FormMerge.h"

namespace peltorn::setup {

// Table and field names of the merge set-up tables and the company master.
inline constexpr const char* kFieldNo = "NO";
inline constexpr const char* kFieldCode = "CODE";
inline constexpr const char* kFieldMaster = "MASTER";
inline constexpr const char* kFieldPath = "PATH";
inline constexpr const char* kFieldDesc = "DESC";
inline constexpr const char* kFieldCompanyCode = "COMPANY_CODE";
inline constexpr const char* kFieldCompanyName = "COMPANY_NAME";
inline constexpr int kDescWidth = 30;

// Marks of MERGRHD.MASTER.
inline constexpr const char* kSelected = "T";
inline constexpr const char* kNotSelected = "N";
// A consolidated company's code begins with this.
inline constexpr const char* kConsolidatedMark = "#";

inline constexpr const char* kDeleteQuestion = "Delete record ?";

// Key codes the grids pass to their key handlers.
inline constexpr int kKeyF4 = 0x73;

// Items of RadioGroup1.
inline constexpr int kCheckAll = 0;
inline constexpr int kUncheckAll = 1;

// Installs the company filter (TableMCompanyFilterRecord as TableMCompany.OnFilterRecord) and the
// display-only lookup field DESC (COMPANY_NAME of TableMCompany1 by CODE) on TableMerge and
// TableMergeDTL. Call once, before the tables are opened; needs no database.
void InstallSetupHandlers(TFormMerge& form);

// Filter test of a TableMCompany record: true when COMPANY_CODE begins with "#".
bool TableMCompanyFilterRecord(db::TDbTable& table);

// The destination drop-down got the focus: First on TableMCompany, then the company filter on,
// so that only consolidated companies are offered.
void DBLookupCombo1Enter(TFormMerge& form);
// The source drop-down got the focus: First on TableMCompany, then the company filter off.
void DBLookupCombo2Enter(TFormMerge& form);

// The focus left the group grid: a group being edited or inserted is posted. A key violation
// raises the layer's error and leaves the row in editing.
void DBGrid1Exit(TFormMerge& form);
// The focus entered the source grid: Controls.DBGrid2ReadOnly is set when the current group's NO
// reads as 0 (zero, empty, no group at all, tables closed), cleared otherwise.
void DBGrid2Enter(TFormMerge& form);
// The focus left the source grid: a source being edited or inserted is posted.
void DBGrid2Exit(TFormMerge& form);

// A key in the group grid / source grid. F4 asks "Delete record ?"; Yes deletes the current row
// of that grid's table (a row being inserted is discarded instead). With no row to delete nothing
// is asked. Deleting a group leaves its sources in MERGEDTL.
void DBGrid1KeyDown(TFormMerge& form, int key);
void DBGrid2KeyDown(TFormMerge& form, int key);

// The selection of RadioGroup1 changed (Controls.RadioGroup1ItemIndex): "Check All" sets MASTER of
// every group to "T", "Uncheck All" to "N". TableMerge ends after its last row. No selection
// (-1) does nothing.
void RadioGroup1Click(TFormMerge& form);

// The NO of the current group as the source grid reads it: 0 when there is none.
int CurrentGroupNo(TFormMerge& form);

}  // namespace peltorn::setup
