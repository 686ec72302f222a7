// The post-merge rebuilds of a destination: the cost-centre distribution (twelve rows per
// employee for the merged year) and the allowance report columns (numbered from 1500).
#pragma once

#include "startup/FormMerge.h"

namespace peltorn::rebuild {

// Called by the run once per group, after the currency conversion.
void RebuildCostCentres(TFormMerge& form);
// Called by the run once per group, right after the cost-centre rebuild.
void RebuildAllowanceColumns(TFormMerge& form);

}  // namespace peltorn::rebuild
