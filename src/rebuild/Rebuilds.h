// The post-merge rebuilds of a destination: the cost-centre distribution (twelve rows per
// employee for the merged year, CostCentre.cpp) and the allowance report columns (numbered from
// 1500, AllowanceColumns.cpp). The run calls both once per merge group, in this order, after the
// currency conversion; they work on the destination connection only.
#pragma once

#include "startup/FormMerge.h"

namespace peltorn::rebuild {

// COSTCTR made afresh from EMPLOYEE for the year of Controls.EditPeriod: rows from 200701 on are
// deleted, then each employee gets one row per month charging 100 percent to its own cost
// centre and department. For "999999" (all periods) nothing is rebuilt and the run log says so.
// Stops before the next employee on a confirmed stop request of the
// progress window. Leaves COSTCTR and EMPLOYEE open. Database errors pass to the caller.
void RebuildCostCentres(TFormMerge& form);

// The "ALLW" columns of RTABLE recreated from ALLOWNCE (numbers from 1500 in code order, also
// written to ALLOWNCE.TRNNO), the last number stored in TRNNO, and the COL of the RTPDETL rows
// pointed at the new numbers. Leaves RTABLE ("NO" order, "ALLW" filter on), ALLOWNCE and RTPDETL
// open and TRNNO closed. Database errors pass to the caller.
void RebuildAllowanceColumns(TFormMerge& form);

}  // namespace peltorn::rebuild
