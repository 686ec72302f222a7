// Operations on a NUL-terminated character buffer, done in place. They are the working parts of
// the text routines of StrUtil, which copy a text into a temporary buffer, cut and skip in it
// with these routines and make a new text of what is left.
//
// Only the space character counts as blank. Lengths are counted up to the first NUL.
#pragma once

#include <cstddef>

namespace peltorn::support {

// Position of the first non-blank character of buffer; its terminating NUL when all are blank.
char* PSkipSpaces(char* buffer);

// Ends buffer just after its last non-blank character (at its start when there is none) and
// returns buffer. An empty buffer is left empty.
char* PCutTrailingSpaces(char* buffer);

// Ends buffer after length characters when it is longer; returns buffer.
char* PCutAt(char* buffer, std::size_t length);

// Position of the last count characters of buffer; buffer itself when it is not longer than
// count. Nothing is written.
char* PRight(char* buffer, std::size_t count);

// Position of the part of buffer that starts at start (1-based; 0 counts as 1), ended after count
// characters. When buffer is shorter than start characters it is emptied and returned.
char* PSubStr(char* buffer, std::size_t start, std::size_t count);

}  // namespace peltorn::support
