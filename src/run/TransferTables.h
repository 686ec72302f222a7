// The table transfers of one source company: the 32 payroll, employee, leave and code tables
// (TransferCompanyTables), one parameter or report table (TransferParameterTable) and the eight
// general-ledger tables (TransferGLTables). Every source record goes through TransferRecord.
#pragma once

#include "startup/FormMerge.h"

#include <string>
#include <vector>

namespace peltorn::run {

// The tables of TransferCompanyTables and TransferGLTables, in their order.
const std::vector<std::string>& MergeTables();
const std::vector<std::string>& GLTables();

// Expects dbSource and dbDest prepared for the source and destination, SourceDbPath set and
// Controls.EditPeriod holding the period. Copies the 32 tables in order (EMP_CLD never, the leave
// tables only with CheckBoxLeave, period tables limited to the period unless "999999"), advancing
// Gauge1 (0 to 25) once per table. A destination table that cannot be opened raises EMergeError
// "<message> Table <table>"; other errors are raised unchanged. tblDest is left open on EXRATE.
void TransferCompanyTables(TFormMerge& form);

// Sets CurrentEmpCodeField to the employee-code field of tblDest's table (empty for tables
// without one) and CurrentEmpCode to that field of the current tblSource record.
void PickEmployeeCode(TFormMerge& form);

// Copies every record of tableName (PPARA_RD: nothing). Errors as TransferCompanyTables.
// tblDest is left closed with empty TableName and index.
void TransferParameterTable(TFormMerge& form, const std::string& tableName);

// Copies the eight general-ledger tables; tblDest is left open on GLPARA.
void TransferGLTables(TFormMerge& form);

}  // namespace peltorn::run
