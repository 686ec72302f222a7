// Files that hold payroll figures (the run log, the run report, snapshots, exports) are the
// owner's alone: created with mode 0600, their folders with 0700, whatever the umask allows.
#pragma once

#include <string>

namespace peltorn::support {

// Creates the file empty (or empties it) with mode 0600, so that a stream opened on it afterwards
// writes into a file nobody else can read. An existing file gets mode 0600 too. Raises
// std::runtime_error naming the file when it cannot be created.
void CreatePrivateFile(const std::string& path);

// Creates the folder and every missing parent; each folder it creates gets mode 0700 (folders
// that existed keep theirs). Raises std::runtime_error naming the folder when one cannot be made.
void CreatePrivateFolders(const std::string& path);

}  // namespace peltorn::support
