// Clearing a destination before its sources are transferred: the tables every merge rebuilds
// whole are emptied, the period's records are deleted from the period tables, and EMP_BNK.TRXID
// is made a plain integer column so that the transfer can carry the source numbers into it.
#pragma once

#include "startup/FormMerge.h"

#include <string>

namespace peltorn::run {

// Expects dbDest prepared for the destination and Controls.EditPeriod holding the period.
// Empties RTPHD, RTPDETL, MEDICAL, COSTCTR, the general-ledger tables (CheckBoxGL only), EXRATE,
// EMP_BNK, EMP_PROS and EMP_ALW; repairs TRXID; clears the period tables (keeping cycle "S"
// under chkSPE; every period for "999999"). A period table that cannot be cleared is reported to
// the operator (Inform) and the clearing goes on; every other error is raised.
void ClearDestination(TFormMerge& form);

// Deletes every record of tableName on dbDest (DbQueryDel); withPassword gives the statement the
// free-table password for that table on a folder of free tables. Errors are raised.
void ClearWholeTable(TFormMerge& form, const std::string& tableName, bool withPassword);

// Deletes the period's records of tableName (every record for "999999"; cycle "S" kept under
// chkSPE) after opening it exclusively, encrypting it (free
// tables) and packing it. Any failure shows "<message> Tablename <table>" (Inform) and returns.
void ClearTablePeriod(TFormMerge& form, const std::string& tableName);

}  // namespace peltorn::run
