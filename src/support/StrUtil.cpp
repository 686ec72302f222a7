// StrUtil: the text routines on top of _4pchar. A text is copied into a buffer one character
// longer than itself, worked on in place, and the result is the buffer from the returned position
// up to its first NUL; the argument is never changed.
#include "support/StrUtil.h"

#include "support/_4pchar.h"

#include <vector>

namespace peltorn::support {

namespace {

std::vector<char> MakeBuffer(std::string_view text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return buffer;
}

}  // namespace

std::string LTrimSpaces(std::string_view text) {
    auto buffer = MakeBuffer(text);
    return std::string(PSkipSpaces(buffer.data()));
}

std::string RTrimSpaces(std::string_view text) {
    auto buffer = MakeBuffer(text);
    return std::string(PCutTrailingSpaces(buffer.data()));
}

std::string TrimSpaces(std::string_view text) { return LTrimSpaces(RTrimSpaces(text)); }

std::string SubStr(std::string_view text, std::uint8_t start, std::uint8_t count) {
    auto buffer = MakeBuffer(text);
    return std::string(PSubStr(buffer.data(), start, count));
}

}  // namespace peltorn::support
