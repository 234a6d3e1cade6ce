#pragma once
// The hourly log file being written. Each record is handed to the operating system as it is
// logged (one write per record), so a program that is killed loses nothing it had logged;
// closing the file (at Exit, at the hour change) also flushes it to the disk. Only while the
// file refuses writes are records held here, and they follow once writing works again.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "log/log_clock.h"
#include "log/log_format.h"
#include "log/log_result.h"

namespace kvx {

class LogWriter {
  public:
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

    // LOG_OK: taken and written. LOG_NOT_OPEN: no file, dropped. LOG_WRITE_FAILED: taken, but
    // writing failed and it waits for the next attempt. LOG_RECORD_LOST: writing failed, the wait
    // queue is full and this record was dropped.
    int appendLogRecord(const LogRecord& record);

    // Writes what is held, flushes the file to the disk and closes. LOG_RECORD_LOST when buffered
    // records could not be written (the file is cut back to its last whole record); LOG_OK with no
    // file open.
    int closeLogFile();

    // Called with the file's path each time a file has been opened (its header written, a
    // partial last record cut off), before any record goes into it: a program that numbers the
    // records it logs notes there where a run of them begins.
    void setOpenedHook(std::function<void(const std::string& path)> hook) {
        openedHook_ = std::move(hook);
    }

    bool isOpen() const { return fd_ >= 0; }
    // True when a file is open and the clock's current hour names another file.
    bool hourHasChanged() const;
    // The open file's path, empty when none is open.
    const std::string& path() const { return path_; }
    // Records that were handed over but never reached a file.
    std::int64_t lostRecords() const { return lostRecords_; }
    // Records taken but not yet written (only after a failed write).
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
    std::function<void(const std::string&)> openedHook_;
};

}  // namespace kvx
