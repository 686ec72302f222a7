// The schema catalogue of the installation: the definitions (fields in column order, types,
// widths and indexes) of the three tables of the main database and of every table of a company
// database that the program reads or writes.
//
// The catalogue is what new databases are made from (MakeDatabases.h, MERGEMAKEDB.h, the demo
// installation, the tests). The merge itself never consults it: it works on the tables it finds
// in the company databases. Column order matters: the record transfer hands some key values over
// by column position, so the order given here is the order those rules were written against.
#pragma once

#include "db/DbSchema.h"

#include <string_view>
#include <vector>

namespace peltorn::schema {

// MCOMPANY, MERGRHD and MERGEDTL, each with its unique primary index.
const std::vector<db::TTableDef>& MainTables();

// Every company table, in alphabetical order of the table names. Company-table indexes are not
// unique.
const std::vector<db::TTableDef>& CompanyTables();

// The definition of the main or company table of that name (any letter case), or nullptr.
const db::TTableDef* FindCatalogueTable(std::string_view name);

}  // namespace peltorn::schema
