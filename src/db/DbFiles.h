// The files of one database on disk, for whatever copies, snapshots or restores a database as a
// whole.
#pragma once

namespace peltorn::db {

// An encrypted data dictionary X.ADD keeps the wrapped keys that open it in the file X.ADD.keys
// beside it: a copy of the dictionary without that file cannot be opened by anybody.
inline constexpr const char* kDictionaryKeysSuffix = ".keys";

}  // namespace peltorn::db
