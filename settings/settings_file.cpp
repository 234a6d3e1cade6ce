#include "settings/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kvx {

std::vector<BlockRange> settingsImageReads(int firmware) {
    std::vector<BlockRange> reads = {{1, 40}, {41, 40}};
    // From 1.06 on the controller gives 81 to 114 in one block (the calibration editor's read):
    // the file's rows up to 114 then hold values, not 0.
    reads.push_back(firmware >= 106 && firmware < 112 ? BlockRange{81, 34} : BlockRange{81, 12});
    if (firmware >= 112) reads.push_back({93, 58});
    // gas_btu_ft3, the last row of 1.12-1.14 files, is held from 1.07 on.
    if (firmware >= 112 && firmware < 115) reads.push_back({151, 1});
    if (firmware >= 115) reads.push_back({151, 24});
    if (firmware >= 117) reads.push_back({175, 3});
    return reads;
}

int settingsFileRows(int firmware) {
    if (firmware < 112) return 114;
    if (firmware < 115) return 151;
    if (firmware < 117) return 174;
    return 177;
}

int settingsImageCovered(int firmware) {
    int covered = 0;
    for (const BlockRange& r : settingsImageReads(firmware))
        covered = std::max(covered, r.last());
    return covered;
}

int settingsCoveredByOlderBackups(int firmware) {
    if (firmware < 112) return 92;
    if (firmware < 115) return 150;
    return settingsFileRows(firmware);
}

std::string settingsUnreadRows(int firmware) {
    const int first = settingsImageCovered(firmware) + 1;
    const int last = settingsFileRows(firmware);
    if (first > last) return {};
    return first == last ? std::to_string(first)
                         : std::to_string(first) + "-" + std::to_string(last);
}

std::string settingsUnreadNote(int firmware) {
    const int first = settingsImageCovered(firmware) + 1;
    const int last = settingsFileRows(firmware);
    if (first > last) return {};
    std::string names(parameterName(first));
    if (last > first) names += " to " + std::string(parameterName(last));
    return "Rows " + settingsUnreadRows(firmware) + " (" + names + ") are written as 0: firmware " +
           settingsVersionText(firmware) + " does not give them.";
}

std::string settingsVersionText(int firmware) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g",
                  static_cast<double>(static_cast<float>(firmware) / 100.0f));
    return buf;
}

int readSettingsImage(DeviceLink& link, int slave, int firmware, SettingsImage& image,
                      BlockRange* failedRange) {
    image.fill(0);
    for (const BlockRange& r : settingsImageReads(firmware)) {
        const int rc = link.readHoldingRegisters(slave, r.first, &image[r.first - 1], r.count);
        if (rc != 0) {
            // A failed read may have left part of a reply behind: the image is all or nothing.
            image.fill(0);
            if (failedRange) *failedRange = r;
            return rc;
        }
    }
    return 0;
}

std::string settingsFileText(const SettingsImage& image, int firmware) {
    std::string text;
    char buf[96];
    std::snprintf(buf, sizeof buf, "Dravo SN: %u ver. ",
                  static_cast<unsigned>(static_cast<std::uint16_t>(image[2])));
    text += buf;
    text += settingsVersionText(image[1]);
    text += "\r\n\r\n";
    const int rows = settingsFileRows(firmware);
    for (int i = 0; i < rows; ++i) {
        std::snprintf(buf, sizeof buf, ",%u\r\n",
                      static_cast<unsigned>(static_cast<std::uint16_t>(image[i])));
        text += parameterNames[i];
        text += buf;
    }
    return text;
}

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

namespace {

// Where a path leads: the file its symbolic links name in the end (a relative link from its
// own folder), or the path itself when it is no link. Replacing a link by a file would leave
// the file the user keeps the settings in untouched.
bool followLinks(std::string path, std::string& target, int& error) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = path;
            return true;
        }
        std::string to(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= to.size()) {
            error = n < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        to.resize(static_cast<std::size_t>(n));
        path = to.front() == '/' ? to : folderOf(path) + "/" + to;
    }
    error = ELOOP;
    return false;
}

bool writeAt(int fd, const std::string& text) {
    return ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0 && writeAll(fd, text) &&
           ::fsync(fd) == 0;
}

// A file bigger than this is not read to be kept: it is no settings file, and it is not
// replaced in place.
constexpr off_t kKeptMaxBytes = 16 * 1024 * 1024;

// Writes the file where it is (truncate, write, flush), for a folder that refuses a new file
// beside it. Its old text is kept and put back if the write fails, so that a full disk does
// not leave half a file; a file made here and not written is removed.
std::string writeInPlace(const std::string& path, const std::string& text) {
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    bool readable = true;
    if (fd < 0 && errno == EACCES && existed) {
        // Writable but not readable: written all the same, without a copy to put back.
        fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        readable = false;
    }
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return "it is not a file";
    }
    if (st.st_size > kKeptMaxBytes) {
        ::close(fd);
        return "it is larger than 16 MB, which no settings file is; it was left as it was";
    }
    std::string old;
    if (readable) {
        old.resize(static_cast<std::size_t>(st.st_size));
        std::size_t have = 0;
        while (have < old.size()) {
            const ssize_t n =
                ::pread(fd, old.data() + have, old.size() - have, static_cast<off_t>(have));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            have += static_cast<std::size_t>(n);
        }
        if (have < old.size()) {
            const int err = errno != 0 ? errno : EIO;
            ::close(fd);
            return std::strerror(err);
        }
    }
    errno = 0;
    if (writeAt(fd, text)) {
        if (::close(fd) != 0) return std::strerror(errno);
        return {};
    }
    const int err = errno != 0 ? errno : EIO;
    std::string why = std::strerror(err);
    if (!existed) {
        ::close(fd);
        ::unlink(path.c_str());
    } else {
        if (!readable || !writeAt(fd, old))
            why += "; the file's earlier contents could not be put back";
        ::close(fd);
    }
    return why;
}

}  // namespace

std::string writeFileAtomically(const std::string& chosen, const std::string& text) {
    if (chosen.empty() || chosen.back() == '/') return "no file name";
    std::string path;
    if (int err = 0; !followLinks(chosen, path, err)) return std::strerror(err);
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return "it is a folder";
    // A device or a pipe chosen by mistake is not renamed away.
    if (exists && !S_ISREG(st.st_mode)) return "it is not a file";
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    // A folder that refuses a new file (no write permission, a name too long with the suffix)
    // may still let the file itself be written.
    if (fd < 0) return writeInPlace(path, text);
    // mkstemp makes the file private; a settings file is an ordinary one, and a replaced file
    // keeps its mode.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t mode = exists ? st.st_mode & 07777 : 0666 & ~mask;
    int err = 0;
    errno = 0;
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, text) || ::fsync(fd) != 0)
        err = errno != 0 ? errno : EIO;
    if (::close(fd) != 0 && err == 0) err = errno != 0 ? errno : EIO;
    if (err != 0) {
        ::unlink(temp.c_str());
        return std::strerror(err);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        // A sticky folder lets one make a file but not rename it over another user's.
        ::unlink(temp.c_str());
        return writeInPlace(path, text);
    }
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

std::string withCsvExtension(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.find('.') == std::string::npos ? path + ".csv" : path;
}

}  // namespace kvx
