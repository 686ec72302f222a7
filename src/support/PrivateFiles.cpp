#include "support/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace peltorn::support {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
    throw std::runtime_error(std::string("Cannot create the ") + what + " " + path + ": " +
                             std::strerror(error));
}

}  // namespace

void CreatePrivateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) Fail("file", path, errno);
    // The mode of open() only applies to a new file; an old one may have been readable.
    const int rc = ::fchmod(fd, 0600);
    const int error = errno;
    ::close(fd);
    if (rc != 0) Fail("file", path, error);
}

void CreatePrivateFolders(const std::string& path) {
    namespace fs = std::filesystem;
    std::vector<fs::path> missing;
    for (fs::path p = fs::path(path).lexically_normal(); !p.empty() && !fs::exists(p);
         p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) Fail("folder", it->string(), errno);
        if (::chmod(it->c_str(), 0700) != 0) Fail("folder", it->string(), errno);
    }
    if (!fs::is_directory(path)) Fail("folder", path, ENOTDIR);
}

}  // namespace peltorn::support
