// The in-place buffer operations behind StrUtil's trimming and SubStr.
#include "support/_4pchar.h"

#include <cstring>

namespace peltorn::support {

namespace {
constexpr char kBlank = ' ';
}

char* PSkipSpaces(char* buffer) {
    while (*buffer == kBlank) ++buffer;
    return buffer;
}

char* PCutTrailingSpaces(char* buffer) {
    char* end = buffer + std::strlen(buffer);  // the NUL
    while (end > buffer && end[-1] == kBlank) --end;
    *end = '\0';
    return buffer;
}

char* PCutAt(char* buffer, std::size_t length) {
    if (std::strlen(buffer) > length) buffer[length] = '\0';
    return buffer;
}

char* PRight(char* buffer, std::size_t count) {
    std::size_t length = std::strlen(buffer);
    if (length > count) return buffer + (length - count);
    return buffer;
}

char* PSubStr(char* buffer, std::size_t start, std::size_t count) {
    std::size_t length = std::strlen(buffer);
    if (length < start) {
        buffer[0] = '\0';
        return buffer;
    }
    // A start of 0 asks for length + 1 characters from the right: the whole buffer, like 1.
    char* part = PRight(buffer, length - start + 1);
    return PCutAt(part, count);
}

}  // namespace peltorn::support
