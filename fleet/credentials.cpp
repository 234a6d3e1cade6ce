#include "fleet/credentials.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kvx::fleet {

Decoded<Credentials> readCredentialsFile(const std::string& path) {
    using R = Decoded<Credentials>;
    const std::string where = "credentials file " + path + ": ";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return R::fail(where + std::strerror(errno));
    struct stat st {};
    std::string text;
    std::string problem;
    if (::fstat(fd, &st) != 0) {
        problem = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        problem = "not a regular file";
    } else if ((st.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
        problem = "group or others may read or write it (chmod 600 it)";
    } else if (st.st_size > 4096) {
        problem = "longer than 4096 bytes";
    } else {
        char buffer[4097];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, n);
        if (n < 0) problem = std::strerror(errno);
    }
    ::close(fd);
    if (!problem.empty()) return R::fail(where + problem);

    Credentials c;
    const auto first = text.find('\n');
    c.user = text.substr(0, first);
    if (first != std::string::npos) {
        const std::string rest = text.substr(first + 1);
        const auto second = rest.find('\n');
        c.password = rest.substr(0, second);
        if (second != std::string::npos &&
            rest.find_first_not_of('\n', second) != std::string::npos)
            return R::fail(where + "more than two lines (user name, then password)");
    }
    for (std::string* s : {&c.user, &c.password}) {
        if (!s->empty() && s->back() == '\r') s->pop_back();
    }
    if (c.user.empty()) return R::fail(where + "the first line (the user name) is empty");
    if (c.password.empty()) return R::fail(where + "the second line (the password) is missing");
    return R::ok(std::move(c));
}

}  // namespace kvx::fleet
