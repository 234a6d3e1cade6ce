#include "log/log_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "log/log_file_name.h"

namespace kvx {

namespace {

// Writes all of data or reports how far it got.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size, std::size_t& written) {
    written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Length the file must have so that appended records line up with the reader's view of it:
// any trailing partial record (or a lone truncated header) is cut off.
bool wholeRecordLength(int fd, off_t size, off_t& length) {
    std::uint8_t head[kLogHeaderSize];
    const std::size_t want = size < kLogHeaderSize ? static_cast<std::size_t>(size) : sizeof head;
    ssize_t got;
    do {
        got = ::pread(fd, head, want, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0 || static_cast<std::size_t>(got) != want) return false;
    const off_t h = findLogHeader(head, want, nullptr) ? kLogHeaderSize : 0;
    length = size < h ? 0 : h + (size - h) / kLogRecordSize * kLogRecordSize;
    return true;
}

}  // namespace

LogWriter::LogWriter(std::string directory, LocalClock clock)
    : directory_(std::move(directory)), clock_(std::move(clock)) {
    pending_.reserve(kLogRecordSize);
}

LogWriter::~LogWriter() {
    closeLogFile();
}

std::int64_t LogWriter::pendingRecords() const {
    return static_cast<std::int64_t>((pending_.size() + kLogRecordSize - 1) / kLogRecordSize);
}

int LogWriter::openLogFile(int requestKind, int firmwareVersion) {
    if (requestKind != kRequestConnect && requestKind != kRequestHeader &&
        requestKind != kRequestHourChange)
        return LOG_BAD_REQUEST;
    const LocalDateTime now = clock_();
    const std::string path = logFilePath(directory_, now);
    const int closed = closeLogFile();

    // O_NONBLOCK only so that a pipe at that name cannot hang us; it is refused below.
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return errno == EISDIR ? LOG_NOT_REGULAR : LOG_OPEN_FAILED;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return LOG_OPEN_FAILED;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return LOG_NOT_REGULAR;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    // A file left with a partial record (a crash mid-write, a full disk) would shift every
    // record appended after it; cut it back to whole records first.
    off_t size = st.st_size;
    if (size > 0) {
        off_t length = 0;
        if (!wholeRecordLength(fd, size, length) ||
            (length != size && ::ftruncate(fd, length) != 0)) {
            ::close(fd);
            return LOG_OPEN_FAILED;
        }
        size = length;
    }

    fd_ = fd;
    path_ = path;
    int result = closed;
    if (size == 0 && requestKind == kRequestHeader) {
        const LogHeader header = makeLogHeader(firmwareVersion);
        std::size_t written = 0;
        if (!writeAll(fd_, header.data(), header.size(), written)) {
            // Without a complete header the file is read from offset 0: leave it empty.
            if (written > 0 && ::ftruncate(fd_, 0) != 0) {
                ::close(fd_);
                fd_ = -1;
                path_.clear();
                return LOG_OPEN_FAILED;
            }
            result = LOG_WRITE_FAILED;
        }
    }
    if (openedHook_) openedHook_(path_);
    return result;
}

bool LogWriter::hourHasChanged() const {
    return fd_ >= 0 && logFilePath(directory_, clock_()) != path_;
}

int LogWriter::appendLogRecord(const LogRecord& record) {
    if (fd_ < 0) return LOG_NOT_OPEN;
    constexpr std::size_t kMaxPendingBytes =
        static_cast<std::size_t>(kMaxPendingRecords) * kLogRecordSize;
    if (pending_.size() + kLogRecordSize > kMaxPendingBytes && writePending() != LOG_OK) {
        ++lostRecords_;
        return LOG_RECORD_LOST;
    }
    const std::size_t at = pending_.size();
    pending_.resize(at + kLogRecordSize);
    encodeLogRecord(record, pending_.data() + at);
    // Straight to the operating system: a killed program must not take logged records with it.
    return writePending();
}

int LogWriter::closeLogFile() {
    if (fd_ < 0) return LOG_OK;
    int result = LOG_OK;
    if (writePending() != LOG_OK) {
        lostRecords_ += pendingRecords();
        cutBackToWholeRecords();
        pending_.clear();
        result = LOG_RECORD_LOST;
    }
    // The hour's file is finished: make it survive a power cut, not only a crash.
    int synced;
    do {
        synced = ::fdatasync(fd_);
    } while (synced != 0 && errno == EINTR);
    if (synced != 0 && result == LOG_OK) result = LOG_WRITE_FAILED;
    if (::close(fd_) != 0 && result == LOG_OK) result = LOG_WRITE_FAILED;
    fd_ = -1;
    path_.clear();
    return result;
}

int LogWriter::writePending() {
    if (pending_.empty()) return LOG_OK;
    std::size_t written = 0;
    const bool ok = writeAll(fd_, pending_.data(), pending_.size(), written);
    // What reached the file leaves the queue, even mid-record: the rest follows it directly
    // because every write goes to the end.
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(written));
    return ok ? LOG_OK : LOG_WRITE_FAILED;
}

bool LogWriter::cutBackToWholeRecords() {
    const std::size_t tail = pending_.size() % kLogRecordSize;
    if (tail == 0) return true;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    const off_t partial = static_cast<off_t>(kLogRecordSize - tail);
    return st.st_size >= partial && ::ftruncate(fd_, st.st_size - partial) == 0;
}

}  // namespace kvx
