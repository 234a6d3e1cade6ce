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

std::string writeFileAtomically(const std::string& path, const std::string& text) {
    if (path.empty() || path.back() == '/') return "no file name";
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "it is a folder";
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return std::strerror(errno);
    // mkstemp makes the file private; a settings file is an ordinary one.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    int err = 0;
    errno = 0;
    if (::fchmod(fd, 0666 & ~mask) != 0 || !writeAll(fd, text) || ::fsync(fd) != 0)
        err = errno != 0 ? errno : EIO;
    if (::close(fd) != 0 && err == 0) err = errno != 0 ? errno : EIO;
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return std::strerror(err);
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
