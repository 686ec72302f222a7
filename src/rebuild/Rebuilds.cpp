// Placeholder until the rebuilds land: the run calls these at their points.
#include "rebuild/Rebuilds.h"

namespace peltorn::rebuild {

void RebuildCostCentres(TFormMerge&) {}
void RebuildAllowanceColumns(TFormMerge&) {}

}  // namespace peltorn::rebuild
