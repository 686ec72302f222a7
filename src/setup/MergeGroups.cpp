// Merge-group editing through the main window's components (see MergeGroups.h).
#include "setup/MergeGroups.h"

#include "setup/SetupPage.h"
#include "support/StrUtil.h"

namespace peltorn::setup {

namespace {

void RequireOpen(TFormMerge& form) {
    // FormCreate reports its own failure; this names the consequence for the command.
    if (!form.TableMerge.Active() || !form.TableMergeDTL.Active() || !form.TableMCompany.Active()) {
        throw EGroupError("the merge set-up tables of the main database are not open");
    }
}

// Positions TableMerge on group no, or raises.
void GoToGroup(TFormMerge& form, int no) {
    if (!form.TableMerge.FindKey({std::to_string(no)})) {
        throw EGroupError("Merge group " + std::to_string(no) + " not found");
    }
}

// The company's record in MCOMPANY; with consolidatedOnly, through the company filter as the
// destination drop-down sees it.
bool CompanyExists(TFormMerge& form, const std::string& code, bool consolidatedOnly) {
    form.TableMCompany.SetFiltered(consolidatedOnly);
    bool found = form.TableMCompany.FindKey({code});
    form.TableMCompany.SetFiltered(false);
    return found;
}

// Whether MERGEDTL holds source code under group number no. Looked up on a table of its own:
// TableMergeDTL sees only the sources of the current group, and the group may not exist yet.
bool SourceExists(TFormMerge& form, int no, const std::string& code) {
    db::TDbTable detail("MergeDetailLookup");
    detail.SetConnection(&form.DatabaseMain);
    detail.SetTableName(form.TableMergeDTL.TableName());
    detail.SetIndexFieldNames(form.TableMergeDTL.IndexFieldNames());
    detail.Open();
    const bool found = detail.FindKey({std::to_string(no), code});
    detail.Close();
    return found;
}

}  // namespace

std::vector<TMergeGroup> ListGroups(TFormMerge& form) {
    RequireOpen(form);
    std::vector<TMergeGroup> groups;
    db::TDbTable& header = form.TableMerge;
    db::TDbTable& detail = form.TableMergeDTL;
    for (header.First(); !header.Eof(); header.Next()) {
        TMergeGroup group;
        group.No = header.FieldByName(kFieldNo).AsInteger();
        group.Code = header.FieldByName(kFieldCode).AsString();
        group.Master = header.FieldByName(kFieldMaster).AsString();
        group.Desc = header.FieldByName(kFieldDesc).AsString();
        for (detail.First(); !detail.Eof(); detail.Next()) {
            group.Sources.push_back({detail.FieldByName(kFieldCode).AsString(),
                                     detail.FieldByName(kFieldPath).AsString(),
                                     detail.FieldByName(kFieldDesc).AsString()});
        }
        groups.push_back(std::move(group));
    }
    return groups;
}

std::vector<std::string> FormatGroups(const std::vector<TMergeGroup>& groups) {
    std::vector<std::string> lines;
    for (const auto& group : groups) {
        std::string line = std::to_string(group.No) + " " + group.Code + " " +
                           (group.Master == kSelected ? "selected" : "not selected");
        if (!group.Desc.empty()) line += " " + group.Desc;
        lines.push_back(line);
        for (const auto& source : group.Sources) {
            std::string sourceLine = "    " + source.Code;
            if (!source.Desc.empty()) sourceLine += " " + source.Desc;
            if (!source.Path.empty()) sourceLine += " PATH=" + source.Path;
            lines.push_back(sourceLine);
        }
    }
    return lines;
}

void AddGroup(TFormMerge& form, int no, const std::string& code) {
    RequireOpen(form);
    if (no <= 0) throw EGroupError("A merge group needs a NO greater than 0");
    if (!CompanyExists(form, code, /*consolidatedOnly=*/true)) {
        throw EGroupError(std::string(kInvalidCompanyCode) + " (" + code + ")");
    }
    // Sources stay under their NO when a group is removed: a new group of that NO must not make
    // one of them its own destination, as the set-up page's rules refuse it.
    if (SourceExists(form, no, code)) {
        throw EGroupError(std::string(kDuplicatedCodeInDetail) + " (" + code + ")");
    }
    db::TDbTable& header = form.TableMerge;
    header.Append();
    header.FieldByName(kFieldNo).SetAsInteger(no);
    header.FieldByName(kFieldCode).SetAsString(code);
    header.FieldByName(kFieldMaster).SetAsString(kNotSelected);
    try {
        header.Post();
    } catch (...) {
        header.Cancel();
        throw;
    }
}

void AddSource(TFormMerge& form, int no, const std::string& code, const std::string& path) {
    RequireOpen(form);
    GoToGroup(form, no);
    if (!CompanyExists(form, code, /*consolidatedOnly=*/false)) {
        throw EGroupError(std::string(kInvalidCompanyCode) + " (" + code + ")");
    }
    if (support::TrimSpaces(code) ==
        support::TrimSpaces(form.TableMerge.FieldByName(kFieldCode).AsString())) {
        throw EGroupError(std::string(kDuplicationNotAllowed) + " (" + code + ")");
    }
    db::TDbTable& detail = form.TableMergeDTL;
    detail.Append();  // takes NO from the current group
    detail.FieldByName(kFieldCode).SetAsString(code);
    detail.FieldByName(kFieldPath).SetAsString(path);
    try {
        detail.Post();
    } catch (...) {
        detail.Cancel();
        throw;
    }
}

int RemoveGroup(TFormMerge& form, int no) {
    RequireOpen(form);
    GoToGroup(form, no);
    int kept = form.TableMergeDTL.RecordCount();
    form.TableMerge.Delete();
    return kept;
}

void RemoveSource(TFormMerge& form, int no, const std::string& code) {
    RequireOpen(form);
    GoToGroup(form, no);
    if (!form.TableMergeDTL.FindKey({std::to_string(no), code})) {
        throw EGroupError("Source " + code + " not found in merge group " + std::to_string(no));
    }
    form.TableMergeDTL.Delete();
}

void CheckAll(TFormMerge& form) {
    RequireOpen(form);
    form.Controls.RadioGroup1ItemIndex = kCheckAll;
    RadioGroup1Click(form);
}

void UncheckAll(TFormMerge& form) {
    RequireOpen(form);
    form.Controls.RadioGroup1ItemIndex = kUncheckAll;
    RadioGroup1Click(form);
}

}  // namespace peltorn::setup
