#include "fleet/archive_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "log/log_format.h"

namespace kvx::fleet {
namespace {

constexpr const char* kStateTitle = "kvx-archive-state 1";
// Files kept open between flushes; more units than this reopen their files as needed.
constexpr std::size_t kMaxOpenFiles = 256;

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, bytes, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

bool syncDirectory(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// mkdir that tells whether it made the directory; false with errno on failure.
bool makeDirectory(const std::string& path, bool& made) {
    made = ::mkdir(path.c_str(), 0755) == 0;
    if (made) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

ArchiveStore::ArchiveStore(std::string directory) : dir_(std::move(directory)) {
    while (dir_.size() > 1 && dir_.back() == '/')
        dir_.pop_back();
}

ArchiveStore::~ArchiveStore() {
    for (auto& [path, file] : files_)
        ::close(file.fd);
    if (lockFd_ >= 0) ::close(lockFd_);
}

std::string ArchiveStore::open() {
    bool made = false;
    if (!makeDirectory(dir_, made)) return errnoText("archive directory " + dir_);
    const std::string lock = dir_ + "/.kvx-archive.lock";
    lockFd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd_ < 0) return errnoText(lock);
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? "another kvx-archive is writing into " + dir_
                                    : errnoText(lock);
    }
    return loadState();
}

std::string ArchiveStore::loadState() {
    const std::string path = dir_ + "/" + kStateFileName;
    std::ifstream in(path);
    if (!in) {
        if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) return {};  // a new archive
        return errnoText("state file " + path);
    }
    std::string line;
    if (!std::getline(in, line) || line != kStateTitle)
        return "state file " + path + " does not start with \"" + kStateTitle + "\"";
    for (int number = 2; std::getline(in, line); ++number) {
        std::istringstream words(line);
        std::string site, word;
        const std::string where = "state file " + path + " line " + std::to_string(number);
        if (!(words >> site) || !checkSite(site).empty()) return where + ": bad site name";
        std::vector<std::uint64_t> numbers;
        while (words >> word) {
            if (word.empty() || word.size() > 19 ||
                word.find_first_not_of("0123456789") != word.npos)
                return where + ": \"" + word + "\" is not a number";
            numbers.push_back(std::stoull(word));
        }
        if (numbers.size() < 2 || numbers[0] > 0xFFFFFFFFu) return where + ": bad serial";
        Unit& unit = units_[UnitId{site, static_cast<std::uint32_t>(numbers[0])}];
        unit.through = numbers[1];
        for (std::size_t i = 2; i < numbers.size(); ++i) {
            if (numbers[i] <= unit.through) return where + ": a held seq is not above through";
            unit.held.insert(numbers[i]);
        }
    }
    return {};
}

std::string ArchiveStore::saveState() {
    const std::string path = dir_ + "/" + kStateFileName;
    const std::string temp = path + ".new";
    std::string text = std::string(kStateTitle) + "\n";
    for (const auto& [id, unit] : units_) {
        text += id.site + " " + std::to_string(id.serial) + " " + std::to_string(unit.through);
        for (std::uint64_t seq : unit.held) {
            text += ' ';
            text += std::to_string(seq);
        }
        text += "\n";
    }
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errnoText(temp);
    const bool ok =
        writeAll(fd, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), 0) &&
        ::fsync(fd) == 0;
    const std::string problem = ok ? std::string() : errnoText(temp);
    ::close(fd);
    if (!ok) return problem;
    if (::rename(temp.c_str(), path.c_str()) != 0) return errnoText(path);
    if (!syncDirectory(dir_)) return errnoText(dir_);
    return {};
}

ArchiveStore::File* ArchiveStore::openFile(const UnitId& unit, const std::string& name,
                                           std::string& reason) {
    const std::string siteDir = dir_ + "/" + unit.site;
    const std::string unitDir = siteDir + "/" + std::to_string(unit.serial);
    const std::string path = unitDir + "/" + name;
    if (const auto it = files_.find(path); it != files_.end()) {
        it->second.lastUse = ++useCounter_;
        return &it->second;
    }
    bool made = false;
    if (!makeDirectory(siteDir, made)) {
        reason = errnoText(siteDir);
        return nullptr;
    }
    if (made) newDirectories_.insert(dir_);
    if (!makeDirectory(unitDir, made)) {
        reason = errnoText(unitDir);
        return nullptr;
    }
    if (made) newDirectories_.insert(siteDir);
    File file;
    file.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (file.fd < 0) {
        reason = errnoText(path);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = path + " is not a regular file";
        ::close(file.fd);
        return nullptr;
    }
    if (st.st_size == 0) {
        newDirectories_.insert(unitDir);
    } else {
        // A file from an earlier run: its first bytes say whether it has a header (the header
        // is always written with a file's first bytes).
        const ssize_t n = ::pread(file.fd, file.header.data(), file.header.size(), 0);
        const bool has =
            n > 0 && findLogHeader(file.header.data(), static_cast<std::size_t>(n), nullptr);
        file.layout = has ? File::Layout::Header : File::Layout::NoHeader;
    }
    file.lastUse = ++useCounter_;
    return &files_.emplace(path, file).first->second;
}

bool ArchiveStore::learn(const UnitId& unit) {
    if (!units_.emplace(unit, Unit{}).second) return false;
    unflushedUnits_ = true;  // into the state file with the next flush
    return true;
}

ArchiveStore::Outcome ArchiveStore::add(const UnitId& id, const RecordMessage& record,
                                        std::string& reason) {
    const auto known = units_.find(id);
    if (known == units_.end()) {
        reason = "record " + std::to_string(record.seq) + " of " + unitName(id) +
                 ", a unit whose identity the archive has not seen";
        return Outcome::Refused;
    }
    Unit& unit = known->second;
    if (record.seq <= unit.through || unit.held.count(record.seq) != 0) return Outcome::Duplicate;
    File* file = openFile(id, record.file, reason);
    if (!file) return Outcome::Refused;
    const std::string path =
        dir_ + "/" + id.site + "/" + std::to_string(id.serial) + "/" + record.file;
    if (file->layout == File::Layout::Unknown) {
        if (record.header) {
            if (!writeAll(file->fd, record.header->data(), record.header->size(), 0)) {
                reason = errnoText("write " + path);
                return Outcome::Refused;
            }
            file->header = *record.header;
            file->layout = File::Layout::Header;
        } else {
            file->layout = File::Layout::NoHeader;
        }
    } else if ((file->layout == File::Layout::Header) != record.header.has_value()) {
        reason = "record " + std::to_string(record.seq) + " of " + unitName(id) + " says " +
                 record.file + (record.header ? " has a header" : " has no header") +
                 ", the archive's copy " + (record.header ? "has none" : "has one");
        return Outcome::Refused;
    } else if (record.header && *record.header != file->header) {
        reason = "record " + std::to_string(record.seq) + " of " + unitName(id) +
                 " carries another header than the archive's copy of " + record.file;
        return Outcome::Refused;
    }
    if (!writeAll(file->fd, record.raw.data(), record.raw.size(),
                  static_cast<off_t>(record.offset()))) {
        reason = errnoText("write " + path);
        return Outcome::Refused;
    }
    unit.held.insert(record.seq);
    dirtyFiles_.insert(path);
    unflushedUnits_ = true;
    return Outcome::Written;
}

std::string ArchiveStore::flush(std::vector<std::pair<UnitId, std::uint64_t>>& changed) {
    changed.clear();
    for (auto it = dirtyFiles_.begin(); it != dirtyFiles_.end();) {
        if (::fdatasync(files_.at(*it).fd) != 0) return errnoText("flush " + *it);
        it = dirtyFiles_.erase(it);
    }
    for (auto it = newDirectories_.begin(); it != newDirectories_.end();) {
        if (!syncDirectory(*it)) return errnoText("flush " + *it);
        it = newDirectories_.erase(it);
    }
    if (!unflushedUnits_) return {};
    const std::map<UnitId, Unit> before = units_;  // kept until the state file has the new one
    for (auto& [id, unit] : units_) {
        const std::uint64_t was = unit.through;
        while (!unit.held.empty() && *unit.held.begin() == unit.through + 1) {
            unit.through = *unit.held.begin();
            unit.held.erase(unit.held.begin());
        }
        if (unit.through != was) changed.emplace_back(id, unit.through);
    }
    closeIdleFiles();
    if (std::string problem = saveState(); !problem.empty()) {
        units_ = before;
        changed.clear();
        return problem;
    }
    unflushedUnits_ = false;
    return {};
}

void ArchiveStore::closeIdleFiles() {
    if (files_.size() <= kMaxOpenFiles) return;
    const std::uint64_t recent =
        useCounter_ > kMaxOpenFiles / 2 ? useCounter_ - kMaxOpenFiles / 2 : 0;
    for (auto it = files_.begin(); it != files_.end();) {
        if (it->second.lastUse < recent && dirtyFiles_.count(it->first) == 0) {
            ::close(it->second.fd);
            it = files_.erase(it);
        } else {
            ++it;
        }
    }
}

std::uint64_t ArchiveStore::through(const UnitId& unit) const {
    const auto it = units_.find(unit);
    return it == units_.end() ? 0 : it->second.through;
}

std::vector<std::pair<UnitId, std::uint64_t>> ArchiveStore::allThrough() const {
    std::vector<std::pair<UnitId, std::uint64_t>> out;
    for (const auto& [id, unit] : units_)
        out.emplace_back(id, unit.through);
    return out;
}

}  // namespace kvx::fleet
