#pragma once
// The agent's sequence numbers: every record in its log files gets one, 1, 2, 3, ... in the
// order they were logged, never repeated, kept across restarts and a SIGKILL. The journal is a
// small text file of lines "<firstSeq> <file> <firstIndex>": from that record of that log file
// on, the file's records carry firstSeq, firstSeq + 1, ... until the next line. A line is
// appended and flushed to disk when a log file is opened and does not simply continue the run
// before it, so before its first record is written; the next number after a restart is the last
// line's first number plus the records its file holds past its first index.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "log/log_format.h"

namespace kvx::agent {

struct JournalLine {
    std::int64_t firstSeq = 0;
    std::string file;  // a log file's name, no folder
    std::int64_t firstIndex = 0;
};

// One logged record with where it is.
struct LoggedRecord {
    std::int64_t seq = 0;
    std::string file;
    std::int64_t index = 0;  // from 0; at header + 84 * index in the file
    std::array<std::uint8_t, kLogRecordSize> raw{};
    std::optional<LogHeader> header;  // the file's header, when it has one
};

// Whole records in a log file and whether it starts with a header; false when it cannot be read.
bool countLogRecords(const std::string& path, std::int64_t& records, bool& hasHeader);

class SeqJournal {
  public:
    static constexpr const char* kFileName = "seq.journal";

    SeqJournal() = default;
    ~SeqJournal();
    SeqJournal(const SeqJournal&) = delete;
    SeqJournal& operator=(const SeqJournal&) = delete;

    // Reads the journal in stateDir (a missing one is a first run). A last line cut short by a
    // crash is dropped; any other bad line refuses the journal, with the line named, since
    // numbers given out before could otherwise be given out again.
    bool open(const std::string& stateDir, const std::string& logFolder, std::string& why);

    // The log writer opened this file (before any record goes into it): the records in it so
    // far are the previous run's, and a line is written unless the file continues the current
    // run. False (with why) when the line could not be written; it is tried again by collect().
    bool fileOpened(const std::string& path, std::string& why);
    // The records logged since the last call, in order, with their numbers. Nothing of a run
    // whose line is not yet on disk.
    std::vector<LoggedRecord> collect(std::string* why = nullptr);

    // Moves the next number up to seq (nothing when it is there already): the archive holds
    // numbers this journal never gave (its state folder was lost), so the next records must
    // not reuse them. The current file's next record starts a run at seq.
    bool skipTo(std::int64_t seq, std::string& why);

    // The next number to be given; every number below it belongs to a logged record.
    std::int64_t nextSeq() const { return nextSeq_; }
    // Reads a record given out before from the log folder; false with why when its file no
    // longer holds it.
    bool read(std::int64_t seq, LoggedRecord& out, std::string& why) const;
    const std::vector<JournalLine>& lines() const { return lines_; }

  private:
    bool append(const JournalLine& line, std::string& why);
    void readNew(std::vector<LoggedRecord>& out);
    void closeRun();

    std::string journalPath_;
    std::string logFolder_;
    std::vector<JournalLine> lines_;
    std::int64_t nextSeq_ = 1;
    // The run records are taken from: the last line's file, read up to consumed_ records.
    int runFd_ = -1;
    std::string runFile_;
    std::int64_t consumed_ = 0;  // records of the run's file already numbered
    std::optional<LogHeader> runHeader_;
    bool runHeaderKnown_ = false;
    std::optional<JournalLine> unwritten_;  // a line still to go to disk
    std::vector<LoggedRecord> drained_;     // a closed run's last records, for collect()
};

}  // namespace kvx::agent
