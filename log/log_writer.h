#pragma once
// The hourly log file being written. Records are buffered and written in whole-record blocks,
// never flushed one by one; every record handed over reaches the file by the next
// openLogFile, by closeLogFile or by the destructor. A window's Exit path must end with
// closeLogFile (or destroy the writer): std::exit and quick_exit skip automatic objects.
#include <cstdint>
#include <string>
#include <vector>

#include "log/log_clock.h"
#include "log/log_format.h"
#include "log/log_result.h"

namespace kvx {

class LogWriter {
  public:
    // Records held before one write: about ten seconds of polls, always whole records, so an
    // interrupted program leaves no partial record behind.
    static constexpr int kBufferedRecords = 48;
    // While the file refuses writes, records wait up to one hour's worth, then are dropped.
    static constexpr int kMaxPendingRecords = 18000;

    static constexpr int kRequestConnect = 0;
    static constexpr int kRequestHeader = 1;
    static constexpr int kRequestHourChange = 2;

    explicit LogWriter(std::string directory, LocalClock clock = currentLocalDateTime);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Closes any open file and opens the one for the clock's current hour for appending,
    // creating it. Only requestKind 1 on an empty file writes the header. Returns
    // LOG_BAD_REQUEST (nothing changed), LOG_OPEN_FAILED or LOG_NOT_REGULAR (no file is open
    // now, records are refused until the next call), LOG_WRITE_FAILED or LOG_RECORD_LOST
    // (the new file is open, but the previous file's close or the header write failed).
    int openLogFile(int requestKind, int firmwareVersion);

    // LOG_OK: taken. LOG_NOT_OPEN: no file, dropped. LOG_WRITE_FAILED: taken, but writing
    // failed and it waits for the next attempt. LOG_RECORD_LOST: writing failed, the wait
    // queue is full and this record was dropped.
    int appendLogRecord(const LogRecord& record);

    // Writes what is buffered and closes. LOG_RECORD_LOST when buffered records could not be
    // written (the file is cut back to its last whole record); LOG_OK with no file open.
    int closeLogFile();

    bool isOpen() const { return fd_ >= 0; }
    // The open file's path, empty when none is open.
    const std::string& path() const { return path_; }
    // Records that were handed over but never reached a file.
    std::int64_t lostRecords() const { return lostRecords_; }
    // Records taken but not yet written.
    std::int64_t pendingRecords() const;

  private:
    int writePending();
    bool cutBackToWholeRecords();

    std::string directory_;
    LocalClock clock_;
    int fd_ = -1;
    std::string path_;
    std::vector<std::uint8_t> pending_;
    std::int64_t lostRecords_ = 0;
};

}  // namespace kvx
