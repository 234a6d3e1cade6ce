#include "app/program_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace kvx {

namespace {

std::string withSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

// The files are a few bytes; anything far larger is not ours. Refused whole rather than cut,
// so no setting is made up from part of it.
constexpr off_t kMaxFileSize = 64 * 1024;

// Only a regular file is read: O_NONBLOCK so that a pipe in the file's place cannot stall
// the start-up (it is refused below, as is a directory or a device).
bool readWhole(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileSize;
    out.clear();
    char buf[4096];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
        // Grown since the check: still not ours.
        if (out.size() > static_cast<std::size_t>(kMaxFileSize)) ok = false;
    }
    ::close(fd);
    return ok;
}

// Written beside the target and renamed over it, so a failed write never leaves half a file.
bool replaceWhole(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(w);
    }
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

// A decimal number as the whole token, within [low, high].
bool parseLong(const std::string& token, long low, long high, long& out) {
    if (token.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(token.c_str(), &end, 10);
    if (errno != 0 || end == token.c_str() || *end != '\0' || v < low || v > high) return false;
    out = v;
    return true;
}

}  // namespace

bool createProgramDirectory(const std::string& dir) {
    std::string path;
    std::size_t pos = 0;
    while (pos < dir.size()) {
        const std::size_t next = dir.find('/', pos + 1);
        path = dir.substr(0, next == std::string::npos ? dir.size() : next);
        if (!path.empty() && path != "/") ::mkdir(path.c_str(), 0755);
        if (next == std::string::npos) break;
        pos = next;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readCommFile(const std::string& dir, ProgramSettings& settings) {
    std::string text;
    if (!readWhole(withSlash(dir) + kCommFileName, text)) return false;
    std::istringstream in(text);
    std::string port, slave;
    if (!(in >> port)) return true;
    settings.portName = port;
    if (!(in >> slave)) return true;
    // Like a "%d" conversion: the leading number counts, trailing text does not.
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(slave.c_str(), &end, 10);
    if (end != slave.c_str() && errno == 0 && v >= -2147483647L - 1 && v <= 2147483647L)
        settings.slaveId = static_cast<int>(v);
    return true;
}

std::string commFileText(const ProgramSettings& settings) {
    return settings.portName + " " + std::to_string(settings.slaveId);
}

bool writeCommFile(const std::string& dir, const ProgramSettings& settings) {
    return replaceWhole(withSlash(dir) + kCommFileName, commFileText(settings));
}

bool readScalingFile(const std::string& dir, ProgramSettings& settings) {
    std::string text;
    if (!readWhole(withSlash(dir) + kScalingFileName, text)) return false;
    std::istringstream in(text);
    std::string token;
    long v = 0;
    // The dialog writes the low 16 bits as unsigned, so 65535 reads back as -1.
    if (!(in >> token) || !parseLong(token, -32768, 65535, v)) return true;
    settings.speedMin = static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF));
    if (!(in >> token) || !parseLong(token, -32768, 65535, v)) return true;
    settings.speedMax = static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF));
    return true;
}

std::string scalingFileText(const ProgramSettings& settings) {
    return std::to_string(static_cast<std::uint16_t>(settings.speedMin)) + " " +
           std::to_string(static_cast<std::uint16_t>(settings.speedMax));
}

bool writeScalingFile(const std::string& dir, const ProgramSettings& settings) {
    return replaceWhole(withSlash(dir) + kScalingFileName, scalingFileText(settings));
}

}  // namespace kvx
