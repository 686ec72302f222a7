// Creating new, empty databases of the installation from the schema catalogue: the main database
// (company master and merge set-up tables) and a company database in either layout. Used by the
// administrator's tool (`peltorn db create-main`, `peltorn db create-company`), the demo
// installation and the tests.
#pragma once

#include <string>

namespace peltorn::schema {

// The version mark a new company database carries in PAYPARA.DBVERSION.
inline constexpr const char* kDefaultVersionMark = "@2019";

// Creates MCOMPANY, MERGRHD and MERGEDTL as free tables in dir (created when missing).
// Raises db::EDbDatabaseError naming the table when one of them exists already; nothing is
// created then. Any other failure raises the layer's error after removing the tables (and the
// folders) made so far.
void CreateMainDatabase(const std::string& dir);

// Creates a company database with every catalogue company table, all empty except PAYPARA, which
// holds one record whose DBVERSION is versionMark. path is a folder of free tables (created when
// missing; the tables are plain, not encrypted) or, when it names a ".ADD" file, an encrypted
// data dictionary (with its keys file, readable by the owner only, new folders 0700) whose users
// are ADSSYS, with the password the sign-on chooses for versionMark, and ORVEXSYS8, with the
// maintenance password. Raises db::EDbDatabaseError when the dictionary file
// or one of the tables exists already; nothing is created then. Any other failure raises the
// layer's error after removing what was made so far (table files, the dictionary file, new
// folders).
void CreateCompanyDatabase(const std::string& path,
                           const std::string& versionMark = kDefaultVersionMark);

}  // namespace peltorn::schema
