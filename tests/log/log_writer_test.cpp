#include "log/log_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "log/log_file_name.h"
#include "log/log_reader.h"
#include "log_test_support.h"

namespace kvx {
namespace {

constexpr int kFirmware = 113;
const char kHeaderText[] = "KVX, Firmware ver: 1.13";

LogRecord sample(std::int32_t time, std::int32_t seed = 0) {
    LogRecord record;
    record.time = time;
    for (int i = 0; i < kLogValueCount; ++i)
        record.values[i] = (seed + i * 37) % 2000 - 1000;
    return record;
}

std::int64_t fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class LogWriterTest : public ::testing::Test {
  protected:
    LocalClock clock() {
        return [this] { return now; };
    }
    std::string fileFor(int year, int month, int day, int hour) const {
        return dir.file(logFileName(test::at(year, month, day, hour)));
    }
    std::vector<LogRecord> readAll(const std::string& path, LogReader& reader) {
        EXPECT_EQ(reader.open(path), LOG_OK) << path;
        std::vector<LogRecord> records(static_cast<std::size_t>(reader.recordCount()));
        EXPECT_EQ(reader.readRecords(0, reader.recordCount(), records.data()),
                  reader.recordCount());
        return records;
    }

    test::TempDir dir;
    LocalDateTime now = test::at(2014, 5, 24, 9);
};

TEST_F(LogWriterTest, HeaderRequestOnANewFileWritesTheFortyByteHeader) {
    LogWriter writer(dir.path(), clock());
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestHeader, kFirmware), LOG_OK);
    EXPECT_EQ(writer.path(), fileFor(2014, 5, 24, 9));
    ASSERT_EQ(writer.appendLogRecord(sample(1000)), LOG_OK);
    ASSERT_EQ(writer.closeLogFile(), LOG_OK);

    const std::vector<std::uint8_t> bytes = test::readBytes(fileFor(2014, 5, 24, 9));
    ASSERT_EQ(bytes.size(), 40u + 84u);
    const LogHeader expected = makeLogHeader(kFirmware);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin()));
    EXPECT_EQ(0, std::memcmp(bytes.data(), kHeaderText, sizeof kHeaderText));
    EXPECT_EQ(decodeLogRecord(bytes.data() + 40), sample(1000));
}

TEST_F(LogWriterTest, ConnectAndHourChangeNeverWriteAHeader) {
    LogWriter writer(dir.path(), clock());
    for (int kind : {LogWriter::kRequestConnect, LogWriter::kRequestHourChange}) {
        now.hour = 10 + kind;
        ASSERT_EQ(writer.openLogFile(kind, kFirmware), LOG_OK);
        ASSERT_EQ(writer.appendLogRecord(sample(2000 + kind)), LOG_OK);
        ASSERT_EQ(writer.closeLogFile(), LOG_OK);
        const std::vector<std::uint8_t> bytes = test::readBytes(fileFor(2014, 5, 24, now.hour));
        ASSERT_EQ(bytes.size(), 84u) << "kind " << kind;
        EXPECT_EQ(decodeLogRecord(bytes.data()), sample(2000 + kind));
    }
}

TEST_F(LogWriterTest, AFileThatAlreadyHoldsRecordsNeverGetsAHeader) {
    LogWriter writer(dir.path(), clock());
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestConnect, kFirmware), LOG_OK);
    ASSERT_EQ(writer.appendLogRecord(sample(1)), LOG_OK);
    // The header request of the run comes after the connect within the same hour.
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestHeader, kFirmware), LOG_OK);
    ASSERT_EQ(writer.appendLogRecord(sample(2)), LOG_OK);
    ASSERT_EQ(writer.closeLogFile(), LOG_OK);

    LogReader reader;
    const std::vector<LogRecord> records = readAll(fileFor(2014, 5, 24, 9), reader);
    EXPECT_FALSE(reader.hasHeader());
    EXPECT_EQ(records, (std::vector<LogRecord>{sample(1), sample(2)}));
}

TEST_F(LogWriterTest, ReopeningWithinTheHourAppendsAfterTheHeader) {
    {
        LogWriter writer(dir.path(), clock());
        ASSERT_EQ(writer.openLogFile(LogWriter::kRequestHeader, kFirmware), LOG_OK);
        ASSERT_EQ(writer.appendLogRecord(sample(1)), LOG_OK);
    }
    // A new run of the program, which asks for its header again.
    LogWriter writer(dir.path(), clock());
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestHeader, kFirmware), LOG_OK);
    ASSERT_EQ(writer.appendLogRecord(sample(2)), LOG_OK);
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestConnect, kFirmware), LOG_OK);
    ASSERT_EQ(writer.appendLogRecord(sample(3)), LOG_OK);
    ASSERT_EQ(writer.closeLogFile(), LOG_OK);

    LogReader reader;
    const std::vector<LogRecord> records = readAll(fileFor(2014, 5, 24, 9), reader);
    EXPECT_EQ(reader.title(), kHeaderText);
    EXPECT_EQ(reader.fileSize(), 40 + 3 * 84);
    EXPECT_EQ(records, (std::vector<LogRecord>{sample(1), sample(2), sample(3)}));
}

TEST_F(LogWriterTest, EachRecordReachesTheFileAsItIsLogged) {
    LogWriter writer(dir.path(), clock());
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestHeader, kFirmware), LOG_OK);
    const std::string path = writer.path();
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(writer.appendLogRecord(sample(i)), LOG_OK);
        EXPECT_EQ(fileSize(path), 40 + (i + 1) * 84) << "after record " << i;
        EXPECT_EQ(writer.pendingRecords(), 0);
    }
}

TEST_F(LogWriterTest, RecordsReachTheFileAtCloseNextOpenAndDestruction) {
    const std::string nine = fileFor(2014, 5, 24, 9);
    const std::string ten = fileFor(2014, 5, 24, 10);
    {
        LogWriter writer(dir.path(), clock());
        ASSERT_EQ(writer.openLogFile(LogWriter::kRequestConnect, kFirmware), LOG_OK);
        ASSERT_EQ(writer.appendLogRecord(sample(1)), LOG_OK);
        ASSERT_EQ(writer.closeLogFile(), LOG_OK);
        EXPECT_EQ(fileSize(nine), 84);
        EXPECT_FALSE(writer.isOpen());
        EXPECT_EQ(writer.appendLogRecord(sample(2)), LOG_NOT_OPEN);  // closed: dropped

        ASSERT_EQ(writer.openLogFile(LogWriter::kRequestConnect, kFirmware), LOG_OK);
        ASSERT_EQ(writer.appendLogRecord(sample(3)), LOG_OK);
        now.hour = 10;  // the hour changes: the next open closes hour 9
        ASSERT_EQ(writer.openLogFile(LogWriter::kRequestHourChange, kFirmware), LOG_OK);
        EXPECT_EQ(fileSize(nine), 2 * 84);
        ASSERT_EQ(writer.appendLogRecord(sample(4)), LOG_OK);
    }
    EXPECT_EQ(fileSize(ten), 84);
    LogReader reader;
    EXPECT_EQ(readAll(nine, reader), (std::vector<LogRecord>{sample(1), sample(3)}));
    EXPECT_EQ(readAll(ten, reader), (std::vector<LogRecord>{sample(4)}));
}

TEST_F(LogWriterTest, RecordsReachTheFileWhenTheProgramExits) {
    const std::string path = fileFor(2014, 5, 24, 9);
    const std::string directory = dir.path();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Owned for the whole run, as by the main window; std::exit runs its destructor.
        static LogWriter writer(directory, [] { return test::at(2014, 5, 24, 9); });
        if (writer.openLogFile(LogWriter::kRequestHeader, kFirmware) != LOG_OK) _exit(3);
        for (int i = 0; i < 5; ++i)
            if (writer.appendLogRecord(sample(i)) != LOG_OK) _exit(4);
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    LogReader reader;
    const std::vector<LogRecord> records = readAll(path, reader);
    EXPECT_TRUE(reader.hasHeader());
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[4], sample(4));
}

// The viewer killed outright (SIGKILL, a crash, the power switch of a laptop whose disk
// survives): every record logged before the kill is in the file, whole.
TEST_F(LogWriterTest, AKilledProgramLosesNoLoggedRecord) {
    const std::string path = fileFor(2014, 5, 24, 9);
    const std::string directory = dir.path();
    constexpr int kLogged = 200;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        LogWriter writer(directory, [] { return test::at(2014, 5, 24, 9); });
        if (writer.openLogFile(LogWriter::kRequestHeader, kFirmware) != LOG_OK) _exit(3);
        for (int i = 0; i < kLogged; ++i)
            if (writer.appendLogRecord(sample(i, i)) != LOG_OK) _exit(4);
        const char done = 'k';
        if (::write(ready[1], &done, 1) != 1) _exit(5);
        for (;;)
            ::pause();  // killed here, the writer still open
    }
    ::close(ready[1]);
    char done = 0;
    const ssize_t got = ::read(ready[0], &done, 1);
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(got, 1) << "child exit status " << status;
    ASSERT_TRUE(WIFSIGNALED(status));

    LogReader reader;
    const std::vector<LogRecord> records = readAll(path, reader);
    EXPECT_TRUE(reader.hasHeader());
    EXPECT_EQ(reader.trailingBytes(), 0);
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kLogged));
    for (int i = 0; i < kLogged; ++i)
        EXPECT_EQ(records[i], sample(i, i)) << "record " << i;
}

TEST_F(LogWriterTest, AFileThatCannotBeOpenedLeavesLoggingOffUntilTheNextRequest) {
    LogWriter writer(dir.file("missing"), clock());
    EXPECT_EQ(writer.openLogFile(LogWriter::kRequestHeader, kFirmware), LOG_OPEN_FAILED);
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(writer.appendLogRecord(sample(1)), LOG_NOT_OPEN);

    // A directory in the file's place is refused rather than written into.
    ASSERT_EQ(::mkdir(fileFor(2014, 5, 24, 9).c_str(), 0755), 0);
    LogWriter blocked(dir.path(), clock());
    EXPECT_EQ(blocked.openLogFile(LogWriter::kRequestConnect, kFirmware), LOG_NOT_REGULAR);
    EXPECT_FALSE(blocked.isOpen());
    // So is a pipe, which would otherwise stall the poll.
    now.hour = 11;
    ASSERT_EQ(::mkfifo(fileFor(2014, 5, 24, 11).c_str(), 0644), 0);
    EXPECT_EQ(blocked.openLogFile(LogWriter::kRequestConnect, kFirmware), LOG_NOT_REGULAR);
    EXPECT_FALSE(blocked.isOpen());

    // The next hour's request succeeds again.
    now.hour = 12;
    EXPECT_EQ(blocked.openLogFile(LogWriter::kRequestHourChange, kFirmware), LOG_OK);
    EXPECT_TRUE(blocked.isOpen());
}

TEST_F(LogWriterTest, AnUnknownRequestKindChangesNothing) {
    LogWriter writer(dir.path(), clock());
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestConnect, kFirmware), LOG_OK);
    ASSERT_EQ(writer.appendLogRecord(sample(1)), LOG_OK);
    now.hour = 11;
    EXPECT_EQ(writer.openLogFile(3, kFirmware), LOG_BAD_REQUEST);
    EXPECT_EQ(writer.openLogFile(-1, kFirmware), LOG_BAD_REQUEST);
    EXPECT_EQ(writer.path(), fileFor(2014, 5, 24, 9));
    ASSERT_EQ(writer.appendLogRecord(sample(2)), LOG_OK);
    EXPECT_EQ(fileSize(fileFor(2014, 5, 24, 9)), 2 * 84);
}

TEST_F(LogWriterTest, APartialRecordLeftInTheFileIsCutOffSoNewRecordsLineUp) {
    const std::string withHeader = fileFor(2014, 5, 24, 9);
    const std::string without = fileFor(2014, 5, 24, 10);
    const LogHeader header = makeLogHeader(kFirmware);
    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    std::uint8_t record[84];
    encodeLogRecord(sample(1), record);
    test::appendBytes(bytes, record, 84);
    test::appendBytes(bytes, record, 30);  // a write cut short
    test::writeBytes(withHeader, bytes);
    std::vector<std::uint8_t> plain(record, record + 84);
    test::appendBytes(plain, record, 50);
    test::writeBytes(without, plain);

    LogWriter writer(dir.path(), clock());
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestHeader, kFirmware), LOG_OK);
    ASSERT_EQ(writer.appendLogRecord(sample(2)), LOG_OK);
    now.hour = 10;
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestHourChange, kFirmware), LOG_OK);
    ASSERT_EQ(writer.appendLogRecord(sample(2)), LOG_OK);
    ASSERT_EQ(writer.closeLogFile(), LOG_OK);

    LogReader reader;
    EXPECT_EQ(readAll(withHeader, reader), (std::vector<LogRecord>{sample(1), sample(2)}));
    EXPECT_EQ(reader.trailingBytes(), 0);
    EXPECT_TRUE(reader.hasHeader());
    EXPECT_EQ(readAll(without, reader), (std::vector<LogRecord>{sample(1), sample(2)}));
    EXPECT_EQ(reader.trailingBytes(), 0);
}

TEST_F(LogWriterTest, ALoneTruncatedHeaderIsReplacedByAWholeOne) {
    const std::string path = fileFor(2014, 5, 24, 9);
    const LogHeader header = makeLogHeader(105);
    test::writeBytes(path, std::vector<std::uint8_t>(header.begin(), header.begin() + 20));

    LogWriter writer(dir.path(), clock());
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestHeader, kFirmware), LOG_OK);
    ASSERT_EQ(writer.appendLogRecord(sample(7)), LOG_OK);
    ASSERT_EQ(writer.closeLogFile(), LOG_OK);

    LogReader reader;
    EXPECT_EQ(readAll(path, reader), (std::vector<LogRecord>{sample(7)}));
    EXPECT_EQ(reader.title(), kHeaderText);
}

// Runs body in a child whose files may not grow beyond limit bytes; a write past it fails
// (EFBIG), possibly after writing part of its data. Returns the child's exit code.
template <typename Body>
int withFileSizeLimit(rlim_t limit, Body body) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit rl{};
        getrlimit(RLIMIT_FSIZE, &rl);
        rl.rlim_cur = limit;
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(90);
        _exit(body(rl));
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(LogWriterTest, AFailedWriteIsReportedAndNeverLeavesAPartialRecord) {
    const std::string path = fileFor(2014, 5, 24, 9);
    const std::string directory = dir.path();
    constexpr int kFit = 48;
    // Room for kFit records and 30 bytes: the next record's write stops inside it.
    const int code = withFileSizeLimit(kFit * 84 + 30, [&](rlimit&) {
        LogWriter writer(directory, [] { return test::at(2014, 5, 24, 9); });
        if (writer.openLogFile(LogWriter::kRequestConnect, kFirmware) != LOG_OK) return 10;
        for (int i = 0; i < kFit; ++i)
            if (writer.appendLogRecord(sample(i)) != LOG_OK) return 11;
        if (writer.appendLogRecord(sample(kFit)) != LOG_WRITE_FAILED) return 13;
        if (writer.pendingRecords() != 1) return 14;
        // Every further record is still taken, and the failure still reported.
        if (writer.appendLogRecord(sample(kFit + 1)) != LOG_WRITE_FAILED) return 15;
        if (writer.pendingRecords() != 2) return 18;
        if (writer.closeLogFile() != LOG_RECORD_LOST) return 16;
        if (writer.lostRecords() != 2) return 17;
        return 0;
    });
    ASSERT_EQ(code, 0);
    LogReader reader;
    const std::vector<LogRecord> records = readAll(path, reader);
    EXPECT_EQ(reader.trailingBytes(), 0);
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kFit));
    EXPECT_EQ(records.back(), sample(kFit - 1));
}

TEST_F(LogWriterTest, RecordsHeldAfterAFailedWriteFollowOnceWritingWorksAgain) {
    const std::string path = fileFor(2014, 5, 24, 9);
    const std::string directory = dir.path();
    constexpr int kBlock = 48;
    const int code = withFileSizeLimit(40 + kBlock * 84 + 30, [&](rlimit& rl) {
        LogWriter writer(directory, [] { return test::at(2014, 5, 24, 9); });
        if (writer.openLogFile(LogWriter::kRequestHeader, kFirmware) != LOG_OK) return 10;
        int failures = 0;
        for (int i = 0; i < 3 * kBlock; ++i)
            if (writer.appendLogRecord(sample(i, i)) == LOG_WRITE_FAILED) ++failures;
        if (failures == 0) return 11;
        rl.rlim_cur = rl.rlim_max;  // space again
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return 12;
        if (writer.appendLogRecord(sample(3 * kBlock, 3 * kBlock)) != LOG_OK) return 13;
        if (writer.closeLogFile() != LOG_OK) return 14;
        return writer.lostRecords() == 0 ? 0 : 15;
    });
    ASSERT_EQ(code, 0);
    LogReader reader;
    const std::vector<LogRecord> records = readAll(path, reader);
    EXPECT_TRUE(reader.hasHeader());
    EXPECT_EQ(reader.trailingBytes(), 0);
    ASSERT_EQ(records.size(), static_cast<std::size_t>(3 * kBlock + 1));
    for (int i = 0; i <= 3 * kBlock; ++i)
        EXPECT_EQ(records[i], sample(i, i)) << "record " << i;
}

}  // namespace
}  // namespace kvx
