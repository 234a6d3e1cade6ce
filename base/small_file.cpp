#include "base/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kvx {

SmallFile readSmallFile(const std::string& path, std::size_t maxBytes, std::string& out,
                        int* openErrno) {
    out.clear();
    if (openErrno) *openErrno = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (openErrno) *openErrno = errno;
        return errno == ENOENT ? SmallFile::Missing : SmallFile::Refused;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<unsigned long long>(st.st_size) <= maxBytes;
    char buf[4096];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
        // Grown since the check: still not ours.
        if (out.size() > maxBytes) ok = false;
    }
    ::close(fd);
    if (!ok) out.clear();
    return ok ? SmallFile::Read : SmallFile::Refused;
}

}  // namespace kvx
