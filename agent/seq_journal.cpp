#include "agent/seq_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/program_directory.h"
#include "log/log_file_name.h"
#include "model/typed_text.h"

namespace kvx::agent {

namespace {

// The journal grows by a line an hour; a file far larger is not ours.
constexpr off_t kMaxJournalSize = 64 * 1024 * 1024;

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool preadAll(int fd, std::uint8_t* out, std::size_t size, off_t at) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, out + got, size - got, at + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool countOpen(int fd, std::int64_t& records, std::optional<LogHeader>& header) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    header.reset();
    LogHeader head{};
    const std::size_t want =
        st.st_size < kLogHeaderSize ? static_cast<std::size_t>(st.st_size) : head.size();
    if (want > 0 && !preadAll(fd, head.data(), want, 0)) return false;
    if (want > 0 && findLogHeader(head.data(), want, nullptr)) {
        if (want < head.size()) {
            // A header still being written: no record yet.
            records = 0;
            return true;
        }
        header = head;
    }
    const off_t h = header ? kLogHeaderSize : 0;
    records = st.st_size < h ? 0 : (st.st_size - h) / kLogRecordSize;
    return true;
}

// "<firstSeq> <file> <firstIndex>"
bool parseLine(const std::string& text, JournalLine& out) {
    const std::size_t a = text.find(' ');
    const std::size_t b = a == std::string::npos ? a : text.find(' ', a + 1);
    if (b == std::string::npos || text.find(' ', b + 1) != std::string::npos) return false;
    const Parsed<long> seq = parseDigits(text.substr(0, a), 999999999999999L);
    // An hour's file holds 18,000 records at five a second; the payload carries up to a million.
    const Parsed<long> index = parseDigits(text.substr(b + 1), 1000000L);
    LogFileHour hour;
    out.file = text.substr(a + 1, b - a - 1);
    if (!seq || !index || *seq < 1 || !parseLogFileName(out.file, hour) ||
        out.file.find('/') != std::string::npos)
        return false;
    out.firstSeq = *seq;
    out.firstIndex = *index;
    return true;
}

}  // namespace

bool countLogRecords(const std::string& path, std::int64_t& records, bool& hasHeader) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    std::optional<LogHeader> header;
    const bool ok = countOpen(fd, records, header);
    ::close(fd);
    hasHeader = header.has_value();
    return ok;
}

SeqJournal::~SeqJournal() {
    closeRun();
}

void SeqJournal::closeRun() {
    if (runFd_ >= 0) ::close(runFd_);
    runFd_ = -1;
    runHeaderKnown_ = false;
}

bool SeqJournal::open(const std::string& stateDir, const std::string& logFolder, std::string& why) {
    journalPath_ = joinDir(stateDir, kFileName);
    logFolder_ = logFolder;
    lines_.clear();
    nextSeq_ = 1;
    const int fd = ::open(journalPath_.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        why = journalPath_ + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxJournalSize) {
        ::close(fd);
        why = journalPath_ + ": not a regular file of at most 64 MB";
        return false;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    if (!text.empty() &&
        !preadAll(fd, reinterpret_cast<std::uint8_t*>(text.data()), text.size(), 0)) {
        ::close(fd);
        why = journalPath_ + ": " + std::strerror(errno);
        return false;
    }
    std::size_t pos = 0;
    int number = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        ++number;
        JournalLine line;
        const bool whole = end != std::string::npos;
        const bool ok = whole && parseLine(text.substr(pos, end - pos), line);
        const bool increasing = ok && (lines_.empty() || line.firstSeq >= lines_.back().firstSeq);
        if (!whole) {
            // Cut short while it was written: its run never began, so the line is dropped.
            if (::ftruncate(fd, static_cast<off_t>(pos)) != 0) {
                why = journalPath_ + ": " + std::strerror(errno);
                ::close(fd);
                return false;
            }
            break;
        }
        if (!ok || !increasing) {
            ::close(fd);
            why = journalPath_ + " line " + std::to_string(number) +
                  (ok ? ": its first number is below the line before"
                      : ": not \"<first number> <log file> <first index>\"");
            return false;
        }
        lines_.push_back(line);
        pos = end + 1;
    }
    ::close(fd);
    if (lines_.empty()) return true;
    const JournalLine& last = lines_.back();
    std::int64_t records = 0;
    bool hasHeader = false;
    if (!countLogRecords(joinDir(logFolder_, last.file), records, hasHeader)) records = 0;
    // Records past the first index were numbered (published, or to be sent again).
    consumed_ = records > last.firstIndex ? records : last.firstIndex;
    nextSeq_ = last.firstSeq + (consumed_ - last.firstIndex);
    runFile_ = last.file;
    return true;
}

bool SeqJournal::append(const JournalLine& line, std::string& why) {
    const std::string text = std::to_string(line.firstSeq) + " " + line.file + " " +
                             std::to_string(line.firstIndex) + "\n";
    struct stat before {};
    const bool creating = ::stat(journalPath_.c_str(), &before) != 0;
    const int fd = ::open(journalPath_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = journalPath_ + ": " + std::strerror(errno);
        return false;
    }
    if (creating) {
        // A new journal's name must outlive a power cut as its first line does.
        const std::size_t slash = journalPath_.rfind('/');
        const std::string folder =
            slash == std::string::npos ? "." : journalPath_.substr(0, slash + 1);
        const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            (void)::fsync(dfd);
            ::close(dfd);
        }
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    // On disk before the run's first record can be published: a crash after this finds the run.
    if (ok && ::fdatasync(fd) != 0) ok = false;
    if (!ok) {
        why = journalPath_ + ": " + std::strerror(errno ? errno : ENOSPC);
        // A part of the line would be taken for a crash's cut: leave none.
        struct stat st {};
        if (done > 0 && ::fstat(fd, &st) == 0)
            (void)::ftruncate(fd, st.st_size - static_cast<off_t>(done));
    }
    ::close(fd);
    return ok;
}

void SeqJournal::readNew(std::vector<LoggedRecord>& out) {
    if (runFile_.empty() || unwritten_) return;
    if (runFd_ < 0) {
        runFd_ = ::open(joinDir(logFolder_, runFile_).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (runFd_ < 0) return;
    }
    std::int64_t records = 0;
    // The header is read once a run's file is long enough to hold it; after that a size is
    // all each round needs.
    if (!runHeaderKnown_) {
        if (!countOpen(runFd_, records, runHeader_)) return;
        struct stat st {};
        runHeaderKnown_ = ::fstat(runFd_, &st) == 0 && st.st_size >= kLogHeaderSize;
    } else {
        struct stat st {};
        if (::fstat(runFd_, &st) != 0) return;
        const off_t h = runHeader_ ? kLogHeaderSize : 0;
        records = st.st_size < h ? 0 : (st.st_size - h) / kLogRecordSize;
    }
    const JournalLine& line = lines_.back();
    for (; consumed_ < records; ++consumed_) {
        LoggedRecord r;
        r.seq = line.firstSeq + (consumed_ - line.firstIndex);
        r.file = runFile_;
        r.index = consumed_;
        r.header = runHeader_;
        const off_t at = (runHeader_ ? kLogHeaderSize : 0) + consumed_ * kLogRecordSize;
        if (!preadAll(runFd_, r.raw.data(), r.raw.size(), at)) break;
        out.push_back(r);
        nextSeq_ = r.seq + 1;
    }
}

bool SeqJournal::fileOpened(const std::string& path, std::string& why) {
    const std::string name = baseName(path);
    // The run that ends here keeps its last records for the next collect().
    readNew(drained_);
    std::int64_t records = 0;
    bool hasHeader = false;
    if (!countLogRecords(path, records, hasHeader)) records = 0;
    const bool continues =
        !unwritten_ && !lines_.empty() && runFile_ == name &&
        records == lines_.back().firstIndex + (nextSeq_ - lines_.back().firstSeq);
    if (continues) return true;
    closeRun();
    runFile_ = name;
    consumed_ = records;
    const JournalLine line{nextSeq_, name, records};
    if (!append(line, why)) {
        unwritten_ = line;
        return false;
    }
    unwritten_.reset();
    lines_.push_back(line);
    return true;
}

bool SeqJournal::skipTo(std::int64_t seq, std::string& why) {
    if (seq <= nextSeq_) return true;
    if (lines_.empty() || unwritten_) {
        // No run yet (or its line still to be written): the next line starts at seq.
        nextSeq_ = seq;
        if (unwritten_) unwritten_->firstSeq = seq;
        return true;
    }
    // Whatever is logged already keeps its numbers; the next record starts the new run.
    readNew(drained_);
    const JournalLine line{seq, runFile_, consumed_};
    if (!append(line, why)) return false;
    lines_.push_back(line);
    nextSeq_ = seq;
    return true;
}

std::vector<LoggedRecord> SeqJournal::collect(std::string* why) {
    std::vector<LoggedRecord> out;
    out.swap(drained_);
    if (unwritten_) {
        std::string reason;
        if (!append(*unwritten_, reason)) {
            if (why) *why = reason;
            return out;
        }
        lines_.push_back(*unwritten_);
        unwritten_.reset();
    }
    readNew(out);
    return out;
}

bool SeqJournal::read(std::int64_t seq, LoggedRecord& out, std::string& why) const {
    if (seq < 1 || seq >= nextSeq_ || lines_.empty() || seq < lines_.front().firstSeq) {
        why = "record " + std::to_string(seq) + " was never logged here";
        return false;
    }
    // The last line whose first number is at most seq.
    std::size_t lo = 0, hi = lines_.size();
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (lines_[mid].firstSeq <= seq)
            lo = mid;
        else
            hi = mid;
    }
    const JournalLine& line = lines_[lo];
    out.seq = seq;
    out.file = line.file;
    out.index = line.firstIndex + (seq - line.firstSeq);
    const std::string path = joinDir(logFolder_, line.file);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    std::int64_t records = 0;
    bool ok = countOpen(fd, records, out.header) && out.index < records;
    if (ok) {
        const off_t at = (out.header ? kLogHeaderSize : 0) + out.index * kLogRecordSize;
        ok = preadAll(fd, out.raw.data(), out.raw.size(), at);
    }
    ::close(fd);
    if (!ok) why = path + " no longer holds record " + std::to_string(out.index);
    return ok;
}

}  // namespace kvx::agent
