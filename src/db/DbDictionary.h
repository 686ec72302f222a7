// Data dictionaries encrypted at rest.
//
// An encrypted dictionary X.ADD is one SQLCipher file under a random key of its own; the key is
// kept only wrapped, once per dictionary user under that user's password, in the file X.ADD.keys
// beside it (db/DbFiles.h). Whatever copies, moves, snapshots or restores a dictionary takes that
// file along: without it nobody can open the copy. A plain dictionary (a plain SQLite file) still
// opens as before; its users are checked by our program only, and anybody who can read the file
// can read every row.
#pragma once

#include "db/DbSchema.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace peltorn::db {

// True when the file at path (a .ADD file, as the system forms paths) is an encrypted data
// dictionary; false for a plain dictionary and for a path that names no file.
bool IsEncryptedDictionary(const std::string& path);

// What SecureDictionary did: the users who can open the encrypted dictionary, and the rows of
// each of its tables (found the same in the plain file and in the encrypted one).
struct TSecuredDictionary {
    std::vector<std::string> Users;
    std::vector<std::pair<std::string, std::int64_t>> Tables;
};

// Encrypts the plain data dictionary at path in place. user and password must open it (the
// dictionary-credentials error otherwise). Every other user of the dictionary keeps access only
// if its password is among otherPasswords (candidates, checked against the users table; a user
// may be named more than once); when one is missing nothing is changed.
//
// The encrypted copy is written beside the file under a temporary name, verified (the same
// tables, indexes and row counts as the plain file) and forced to disk; then the new keys file is
// renamed into place, and last the encrypted copy over the plain file. A process killed at any
// moment leaves either the plain dictionary, which still opens (a keys file beside a plain
// dictionary is ignored), or the complete encrypted one with its keys. Refused while anybody else
// has the dictionary open (TableInUse). onStep, when given, is called with the name of each step
// reached: "exported", "keys-written", "keys-renamed", "renamed".
TSecuredDictionary SecureDictionary(const std::string& path, const std::string& user,
                                    const std::string& password,
                                    const std::vector<TDictionaryUser>& otherPasswords,
                                    const std::function<void(const char* step)>& onStep = {});

}  // namespace peltorn::db
