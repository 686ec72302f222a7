// The record transfer: one source record (the current record of tblSource) carried into the
// destination table tblDest, updating the matching record or adding a new one by the rule of the
// destination table, field values copied by name and type, employee codes written from
// CurrentEmpCode.
#pragma once

#include "startup/FormMerge.h"

namespace peltorn::run {

// Expects tblSource open on a record and tblDest open in browse state on the destination table,
// with the table's index current (the parameter tables' index is made current here). On return
// the record is posted and tblDest stands on it, or, for a COSTCTR record with an empty EMPCODE,
// nothing was written. A failed post, and a field value that cannot be copied (one the field's
// type cannot hold: "field GROSS_WAGE of table P_HTRX: 1e+15 is outside the range of money
// (...)"), raise EMergeError "Employee#<code> <message>" and leave the destination record
// unwritten; lookup errors are raised unchanged.
void TransferRecord(TFormMerge& form);

}  // namespace peltorn::run
