#include "log/log_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kvx {

LogReader::~LogReader() {
    close();
}

int LogReader::open(const std::string& path) {
    close();
    // O_NONBLOCK so that opening a pipe by mistake cannot hang; such files are refused.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error_ = errno;
        return LOG_OPEN_FAILED;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = errno;
        ::close(fd);
        return LOG_OPEN_FAILED;
    }
    if (!S_ISREG(st.st_mode)) {
        error_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return LOG_NOT_REGULAR;
    }
    fd_ = fd;
    fileSize_ = st.st_size;

    std::uint8_t head[kLogHeaderSize];
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::int64_t>(fileSize_, sizeof head));
    if (!readAt(0, head, want)) {
        close();
        return LOG_READ_FAILED;
    }
    headerSize_ = findLogHeader(head, want, &title_) ? kLogHeaderSize : 0;
    if (fileSize_ < headerSize_) {
        recordCount_ = 0;
        trailingBytes_ = 0;
    } else {
        recordCount_ = (fileSize_ - headerSize_) / kLogRecordSize;
        trailingBytes_ = (fileSize_ - headerSize_) % kLogRecordSize;
    }
    return LOG_OK;
}

void LogReader::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    error_ = 0;
    headerSize_ = 0;
    title_.clear();
    fileSize_ = 0;
    recordCount_ = 0;
    trailingBytes_ = 0;
}

bool LogReader::readAt(std::int64_t offset, std::uint8_t* data, std::size_t size) const {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int LogReader::readRecord(std::int64_t index, LogRecord& out) const {
    if (fd_ < 0 || index < 0 || index >= recordCount_) return LOG_BAD_INDEX;
    std::uint8_t bytes[kLogRecordSize];
    if (!readAt(headerSize_ + index * kLogRecordSize, bytes, sizeof bytes)) return LOG_READ_FAILED;
    out = decodeLogRecord(bytes);
    return LOG_OK;
}

std::int64_t LogReader::readRecords(std::int64_t first, std::int64_t count, LogRecord* out) const {
    if (fd_ < 0 || first < 0 || count <= 0 || first >= recordCount_) return 0;
    count = std::min(count, recordCount_ - first);
    constexpr std::int64_t kBatch = 256;
    std::uint8_t bytes[kBatch * kLogRecordSize];
    std::int64_t done = 0;
    while (done < count) {
        const std::int64_t n = std::min(kBatch, count - done);
        if (!readAt(headerSize_ + (first + done) * kLogRecordSize, bytes,
                    static_cast<std::size_t>(n * kLogRecordSize)))
            break;
        for (std::int64_t k = 0; k < n; ++k)
            out[done + k] = decodeLogRecord(bytes + k * kLogRecordSize);
        done += n;
    }
    return done;
}

}  // namespace kvx
