// The run's account for people and for programs: the short summary a front end shows when a run
// ends, and the run report (JSON) of `peltorn merge --report`, whose shape is documented in
// docs/run-report.md.
#pragma once

#include "run/RunAccount.h"

#include <nlohmann/json.hpp>
#include <string>

namespace peltorn::run {

// One block per group (result, rows added and updated per table group, employees converted per
// currency, the checks that failed), then the reconciliation table. colour: ANSI colours for a
// terminal that shows them.
std::string RunSummaryText(const TRunAccount& account, bool colour);

// The whole account in the report's shape (version 1); runLog is the run's log (Memo1), whose
// lines are among the messages.
nlohmann::json RunReport(const TRunAccount& account, const TRunLog& runLog);

// Writes RunReport(account, runLog) to path, readable by its owner only; the messages are
// written one by one, not first made into one document. Raises std::runtime_error naming the
// file when it cannot be written.
void WriteRunReport(const TRunAccount& account, const TRunLog& runLog, const std::string& path);

}  // namespace peltorn::run
