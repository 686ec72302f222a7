// The set-up table routine: makes the merge set-up tables MERGRHD and MERGEDTL when the main
// database lacks them, so that a new installation can define merge groups at once.
#pragma once

#include <string>

namespace peltorn {

// Creates MERGRHD and MERGEDTL (free tables, catalogue definitions) in folder when they are
// missing; tables that exist are left as they are. The folder is created when missing.
// Database errors pass through.
void MakeMergeTables(const std::string& folder);

}  // namespace peltorn
