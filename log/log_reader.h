#pragma once
// Reads a log file as the player and the log tool see it: the header check, the record count
// (a trailing partial record is not counted) and records by index.
#include <cstdint>
#include <string>

#include "log/log_format.h"
#include "log/log_result.h"

namespace kvx {

class LogReader {
  public:
    LogReader() = default;
    ~LogReader();
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;

    // LOG_OK, LOG_OPEN_FAILED (errorNumber() tells why), LOG_NOT_REGULAR or LOG_READ_FAILED.
    // The size is taken now; records appended later are not seen until the next open.
    int open(const std::string& path);
    void close();

    bool isOpen() const { return fd_ >= 0; }
    int errorNumber() const { return error_; }
    bool hasHeader() const { return headerSize_ != 0; }
    // The header text; empty without a header.
    const std::string& title() const { return title_; }
    int headerSize() const { return headerSize_; }  // 40 or 0
    // The signature is there but the file ends inside the 40 header bytes.
    bool headerTruncated() const { return fileSize_ < headerSize_; }
    std::int64_t fileSize() const { return fileSize_; }
    std::int64_t recordCount() const { return recordCount_; }
    // Bytes after the last whole record (0 when the file ends on a record boundary).
    std::int64_t trailingBytes() const { return trailingBytes_; }

    // LOG_OK, LOG_BAD_INDEX or LOG_READ_FAILED (out is then unchanged).
    int readRecord(std::int64_t index, LogRecord& out) const;
    // Reads up to count records from first into out; returns how many were read.
    std::int64_t readRecords(std::int64_t first, std::int64_t count, LogRecord* out) const;

  private:
    bool readAt(std::int64_t offset, std::uint8_t* data, std::size_t size) const;

    int fd_ = -1;
    int error_ = 0;
    int headerSize_ = 0;
    std::string title_;
    std::int64_t fileSize_ = 0;
    std::int64_t recordCount_ = 0;
    std::int64_t trailingBytes_ = 0;
};

}  // namespace kvx
