// Rebuilding the destination's bank transactions (BANKTRX) of the period after the header rows
// are recomputed: for every destination header row, the employee's source bank rows are copied
// and their amounts set so that they pay the recomputed nett wage in the standard currency.
//
// Where the rows come from: the source company whose payroll header the destination row was
// taken from. The record transfer lets a later source of the group overwrite an earlier one's
// header of the same employee, period and cycle, so that is the last source of the group (in
// MERGEDTL order) holding the header. The group's last source is read through tblSource on
// dbSource, as the run leaves them; the earlier ones through a connection of their own, signed on
// like dbSource, and only for header rows the later sources did not account for.
#pragma once

#include "startup/FormMerge.h"

namespace peltorn::currency {

// Called once by ConvertCurrency after every header row is recomputed. Opens the destination's
// BANKTRX in tblDest (failure: an exception whose message is the error's followed by
// " Table BANKTRX"), walks the period's header rows in DbQueryPHTRX and copies each one's source
// bank rows. An earlier source that cannot be connected is reported and skipped. Errors of one
// employee's copy are reported and the next header row goes on (see CopyBankRows).
void ConvertBankTransactions(TFormMerge& form);

// Copies the bank rows of the current DbQueryPHTRX row (EMPCODE, PERIOD, CYCLE, NETT_WAGE) from
// tblSource into tblDest (open on BANKTRX). With a "TT" row among them, the first "TT" row with a
// non-zero bank_amt pays NETT_WAGE less the standard-currency rows' bank_amt, later ones 0, and
// split_amt becomes 0 everywhere; without one, the first row pays NETT_WAGE, the others 0, all in
// StdCurr. Rows of an employee the conversion left unconverted are copied as they are. The copy
// loop stops when the operator has asked to stop. Any error is shown with the employee, period
// and cycle, the row being filled is discarded, and the function returns. Returns the number of
// source rows the employee has.
int CopyBankRows(TFormMerge& form);

}  // namespace peltorn::currency
