// The set-up table routine: makes the merge set-up tables MERGRHD and MERGEDTL when the main
// database lacks them, so that a new installation can define merge groups at once.
#pragma once

#include <string>

namespace peltorn {

// The error of MakeMergeTables for a folder without the company master: this + the folder.
inline constexpr const char* kNoCompanyMaster =
    "The merge set-up tables are made only beside MCOMPANY.ADT, which is not in the folder ";

// Creates MERGRHD and MERGEDTL (free tables, catalogue definitions) in folder when they are
// missing; tables that exist are left as they are. folder must be an existing main database, a
// folder holding the file MCOMPANY.ADT (any letter case); any other folder, a missing one too,
// raises db::EDbDatabaseError (kNoCompanyMaster) and nothing is created, no folder either.
// Database errors pass through.
void MakeMergeTables(const std::string& folder);

}  // namespace peltorn
