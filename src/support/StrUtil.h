// Text routines of the merge engine: blank trimming and taking the front of a text (the year of a
// period, the first letter of a mark). Each works on a NUL-terminated copy of its argument with
// the routines of _4pchar, so a NUL inside a text ends it here: whatever follows is lost.
//
// Only the space character counts as blank; tabs and line breaks are ordinary characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace peltorn::support {

// text without its leading blanks.
std::string LTrimSpaces(std::string_view text);
// text without its trailing blanks.
std::string RTrimSpaces(std::string_view text);
// text without leading and trailing blanks; a text of blanks only gives "".
std::string TrimSpaces(std::string_view text);

// Up to count characters of text from position start (1-based; 0 counts as 1). A start beyond
// the last character or a count of 0 gives ""; a count past the end gives the rest of the text.
std::string SubStr(std::string_view text, std::uint8_t start, std::uint8_t count);

}  // namespace peltorn::support
