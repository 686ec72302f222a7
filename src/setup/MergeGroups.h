// Editing merge groups without the window: what `peltorn groups` does to MERGRHD and MERGEDTL.
// Each operation works through the main window's own components (TableMerge, TableMergeDTL with
// its master link, TableMCompany) after FormCreate, so it writes exactly the rows the "Setup" page
// would write.
//
// Unlike the grids, which accept any text as a code, these operations check entered codes against
// the company master with the system's messages: an administrator typing a command gets the
// mistake named at once instead of a group the run later rejects.
#pragma once

#include "startup/FormMerge.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace peltorn::setup {

inline constexpr const char* kInvalidCompanyCode = "Invalid Company Code  !";
inline constexpr const char* kDuplicatedCodeInDetail = "Duplicated Code found in detail record !";
inline constexpr const char* kDuplicationNotAllowed = "Duplication company code not allowed !";

// A failed check of the group editing: the text names what is wrong.
class EGroupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TMergeSource {
    std::string Code;
    std::string Path;
    std::string Desc;  // company name, empty for a code not in MCOMPANY
};

struct TMergeGroup {
    int No = 0;
    std::string Code;
    std::string Master;  // "T" = selected
    std::string Desc;
    std::vector<TMergeSource> Sources;
};

// Every group in NO order with its sources in CODE order.
std::vector<TMergeGroup> ListGroups(TFormMerge& form);

// The lines `peltorn groups list` prints: per group
//   "<NO> <CODE> selected|not selected <DESC>", then per source "    <CODE> <DESC>[ PATH=<PATH>]".
std::vector<std::string> FormatGroups(const std::vector<TMergeGroup>& groups);

// Adds group no (> 0) with destination code; not selected ("N"). The code must be a
// consolidated company of MCOMPANY ("Invalid Company Code  !") and not a source that MERGEDTL
// already holds under no ("Duplicated Code found in detail record !"). A NO that exists already
// raises the layer's key violation; nothing is written then.
void AddGroup(TFormMerge& form, int no, const std::string& code);

// Adds source code (with PATH path, may be empty) to group no. The group must exist, the code
// must be in MCOMPANY ("Invalid Company Code  !") and differ from the group's code
// ("Duplication company code not allowed !"); a code twice in a group raises the layer's key
// violation.
void AddSource(TFormMerge& form, int no, const std::string& code, const std::string& path);

// Deletes group no. Its sources stay in MERGEDTL, as on the "Setup" page: they belong to the NO
// and reappear under a group given that NO later. Returns how many stayed.
int RemoveGroup(TFormMerge& form, int no);

// Deletes source code of group no; raises EGroupError when there is no such source.
void RemoveSource(TFormMerge& form, int no, const std::string& code);

// "Check All" / "Uncheck All" of the "Setup" page.
void CheckAll(TFormMerge& form);
void UncheckAll(TFormMerge& form);

}  // namespace peltorn::setup
