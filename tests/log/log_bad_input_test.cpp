// Files in a log file's place that are not what the writer leaves: cut anywhere, all zeros,
// huge and sparse, a directory, a pipe. Each is read for what it is, refused, or (for the
// writer) cut back to whole records; none hangs, none is read whole into memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "log/log_file_name.h"
#include "log/log_reader.h"
#include "log/log_writer.h"
#include "log_test_support.h"

namespace kvx {
namespace {

LogRecord numbered(int n) {
    LogRecord record;
    record.time = 1400936400 + n;
    for (int i = 0; i < kLogValueCount; ++i)
        record.values[i] = n * 100 - i;
    return record;
}

// An ordinary open of a pipe with no writer blocks; the alarm turns that hang into a failure.
class NoHang {
  public:
    NoHang() {
        std::signal(SIGALRM, SIG_DFL);
        ::alarm(30);
    }
    ~NoHang() { ::alarm(0); }
};

class LogBadInput : public ::testing::Test {
  protected:
    std::string path() const { return dir.file(logFileName(test::at(2014, 5, 24, 9))); }
    LogWriter writer() const {
        return LogWriter(dir.path(), [] { return test::at(2014, 5, 24, 9); });
    }
    test::TempDir dir;
};

TEST_F(LogBadInput, AFileCutAtEveryByteOfTheHeaderAndFirstRecord) {
    const LogHeader header = makeLogHeader(113);
    std::vector<std::uint8_t> whole(header.begin(), header.end());
    std::uint8_t record[kLogRecordSize];
    encodeLogRecord(numbered(1), record);
    test::appendBytes(whole, record, sizeof record);

    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        test::writeBytes(path(), std::vector<std::uint8_t>(whole.begin(), whole.begin() + cut));
        LogReader reader;
        ASSERT_EQ(reader.open(path()), LOG_OK);
        LogRecord out;
        if (cut < whole.size()) {
            EXPECT_EQ(reader.recordCount(), 0);
            EXPECT_EQ(reader.readRecord(0, out), LOG_BAD_INDEX);
        } else {
            ASSERT_EQ(reader.recordCount(), 1);
            ASSERT_EQ(reader.readRecord(0, out), LOG_OK);
            EXPECT_EQ(out, numbered(1));
        }
        // The signature needs its three letters; once there, the header is known even cut.
        EXPECT_EQ(reader.hasHeader(), cut >= 3);
        EXPECT_EQ(reader.headerTruncated(), cut >= 3 && cut < 40);
        reader.close();

        // The writer continues such a file with whole records only, a header where it
        // belongs, and the cut record gone.
        {
            LogWriter w = writer();
            ASSERT_EQ(w.openLogFile(LogWriter::kRequestHeader, 113), LOG_OK);
            ASSERT_EQ(w.appendLogRecord(numbered(2)), LOG_OK);
            ASSERT_EQ(w.closeLogFile(), LOG_OK);
        }
        ASSERT_EQ(reader.open(path()), LOG_OK);
        EXPECT_EQ(reader.trailingBytes(), 0);
        const bool keptFirst = cut == whole.size();
        ASSERT_EQ(reader.recordCount(), keptFirst ? 2 : 1);
        ASSERT_EQ(reader.readRecord(reader.recordCount() - 1, out), LOG_OK);
        EXPECT_EQ(out, numbered(2));
        // A cut header is replaced by a whole one.
        EXPECT_TRUE(reader.hasHeader());
    }
}

TEST_F(LogBadInput, AllZerosIsRecordsWithoutAHeaderThatNoOneWouldLog) {
    test::writeBytes(path(), std::vector<std::uint8_t>(40 + 3 * kLogRecordSize, 0));
    LogReader reader;
    ASSERT_EQ(reader.open(path()), LOG_OK);
    EXPECT_FALSE(reader.hasHeader());
    EXPECT_EQ(reader.recordCount(), 3);
    EXPECT_EQ(reader.trailingBytes(), 40);
    LogRecord out;
    ASSERT_EQ(reader.readRecord(2, out), LOG_OK);
    EXPECT_EQ(out, LogRecord{});
}

TEST_F(LogBadInput, ATwoGigabyteSparseFileIsCountedAndReadWhereAsked) {
    // 2 GiB and a bit, almost all hole: a reader that loaded it would run out of memory here.
    constexpr std::int64_t kSize = (std::int64_t{2} << 30) + 40 + 30;
    {
        const int fd = ::open(path().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const LogHeader header = makeLogHeader(113);
        ASSERT_EQ(::write(fd, header.data(), header.size()), 40);
        std::uint8_t record[kLogRecordSize];
        encodeLogRecord(numbered(7), record);
        const std::int64_t last = (kSize - 40) / kLogRecordSize - 1;
        ASSERT_EQ(::pwrite(fd, record, sizeof record, 40 + last * kLogRecordSize), kLogRecordSize);
        if (::ftruncate(fd, kSize) != 0) {
            ::close(fd);
            GTEST_SKIP() << "this file system cannot hold a 2 GiB file";
        }
        ::close(fd);
    }
    NoHang guard;
    LogReader reader;
    ASSERT_EQ(reader.open(path()), LOG_OK);
    EXPECT_TRUE(reader.hasHeader());
    const std::int64_t count = (kSize - 40) / kLogRecordSize;
    EXPECT_EQ(reader.recordCount(), count);
    EXPECT_EQ(reader.trailingBytes(), (kSize - 40) % kLogRecordSize);
    LogRecord out;
    ASSERT_EQ(reader.readRecord(count - 1, out), LOG_OK);
    EXPECT_EQ(out, numbered(7));
    LogRecord some[4];
    EXPECT_EQ(reader.readRecords(count - 2, 4, some), 2);
    EXPECT_EQ(some[1], numbered(7));
    EXPECT_EQ(reader.readRecord(count, out), LOG_BAD_INDEX);
    reader.close();

    // The writer appends after it without reading it: only the cut tail goes.
    LogWriter w = writer();
    ASSERT_EQ(w.openLogFile(LogWriter::kRequestHeader, 113), LOG_OK);
    ASSERT_EQ(w.appendLogRecord(numbered(8)), LOG_OK);
    ASSERT_EQ(w.closeLogFile(), LOG_OK);
    ASSERT_EQ(reader.open(path()), LOG_OK);
    EXPECT_EQ(reader.recordCount(), count + 1);
    EXPECT_EQ(reader.trailingBytes(), 0);
    ASSERT_EQ(reader.readRecord(count, out), LOG_OK);
    EXPECT_EQ(out, numbered(8));
}

TEST_F(LogBadInput, ADirectoryOrAPipeInTheFilesPlaceIsRefusedAtOnce) {
    NoHang guard;
    struct Case {
        const char* what;
        int (*make)(const char*);
    };
    const Case cases[] = {
        {"directory", [](const char* p) { return ::mkdir(p, 0755); }},
        {"pipe", [](const char* p) { return ::mkfifo(p, 0644); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(path().c_str());
        ::rmdir(path().c_str());
        ASSERT_EQ(c.make(path().c_str()), 0);
        LogReader reader;
        EXPECT_EQ(reader.open(path()), LOG_NOT_REGULAR);
        EXPECT_FALSE(reader.isOpen());
        LogWriter w = writer();
        EXPECT_EQ(w.openLogFile(LogWriter::kRequestHeader, 113), LOG_NOT_REGULAR);
        EXPECT_EQ(w.appendLogRecord(numbered(1)), LOG_NOT_OPEN);
    }
}

}  // namespace
}  // namespace kvx
