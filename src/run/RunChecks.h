// The checks and the reconciliation after a merge group: read back from the destination and
// the group's sources with statements of their own, never from the state of the stages that did
// the work, so that a stage that went wrong cannot vouch for itself.
#pragma once

#include "startup/FormMerge.h"

namespace peltorn::run {

// Fills group.Checks and group.Reconciliation. Expects dbDest connected on the group's
// destination, TableMergeDTL on the group's sources and group's currency account complete.
// Changes nothing in any database. Raises the layer's error when a database cannot be read.
void CheckGroup(TFormMerge& form, TGroupAccount& group);

// The names of the checks, as the account and the summary show them.
inline constexpr const char* kCheckHeaders =
    "payroll headers belong to employees in the standard currency or reported not converted";
inline constexpr const char* kCheckAllowanceCurrency = "no allowance row keeps a currency code";
inline constexpr const char* kCheckBank = "bank amounts add up to the nett wage";
inline constexpr const char* kCheckCostCentre =
    "twelve cost-centre rows of 100 percent per employee";
inline constexpr const char* kCheckRowsPrefix = "rows of ";
inline constexpr const char* kCheckRowsSuffix = " equal the sources' rows";

}  // namespace peltorn::run
