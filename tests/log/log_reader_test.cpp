#include "log/log_reader.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "log/log_writer.h"
#include "log_test_support.h"

namespace kvx {
namespace {

LogRecord numbered(int n) {
    LogRecord record;
    record.time = 1400936400 + n;
    for (int i = 0; i < kLogValueCount; ++i)
        record.values[i] = n * 100 + i - 50;
    return record;
}

// A header (when given), count records and extra bytes of a further record.
std::vector<std::uint8_t> logBytes(bool header, int count, int extra) {
    std::vector<std::uint8_t> bytes;
    if (header) {
        const LogHeader h = makeLogHeader(113);
        bytes.assign(h.begin(), h.end());
    }
    std::uint8_t record[kLogRecordSize];
    for (int n = 0; n < count; ++n) {
        encodeLogRecord(numbered(n), record);
        test::appendBytes(bytes, record, sizeof record);
    }
    encodeLogRecord(numbered(count), record);
    test::appendBytes(bytes, record, static_cast<std::size_t>(extra));
    return bytes;
}

class LogReaderTest : public ::testing::Test {
  protected:
    std::string make(const std::vector<std::uint8_t>& bytes) {
        const std::string path = dir.file("log_2014_5_24_13.log");
        test::writeBytes(path, bytes);
        return path;
    }
    test::TempDir dir;
    LogReader reader;
};

TEST_F(LogReaderTest, WithHeaderCountsWholeRecordsAfterFortyBytes) {
    ASSERT_EQ(reader.open(make(logBytes(true, 3, 50))), LOG_OK);
    EXPECT_TRUE(reader.hasHeader());
    EXPECT_FALSE(reader.headerTruncated());
    EXPECT_EQ(reader.title(), "KVX, Firmware ver: 1.13");
    EXPECT_EQ(reader.headerSize(), 40);
    EXPECT_EQ(reader.recordCount(), 3);
    EXPECT_EQ(reader.trailingBytes(), 50);
    LogRecord record;
    for (int i : {2, 0, 1}) {  // random access, any order
        ASSERT_EQ(reader.readRecord(i, record), LOG_OK);
        EXPECT_EQ(record, numbered(i));
    }
    // The partial record is not there to be read.
    EXPECT_EQ(reader.readRecord(3, record), LOG_BAD_INDEX);
    EXPECT_EQ(reader.readRecord(-1, record), LOG_BAD_INDEX);
    EXPECT_EQ(record, numbered(1));
}

TEST_F(LogReaderTest, WithoutHeaderRecordsStartAtTheFirstByte) {
    ASSERT_EQ(reader.open(make(logBytes(false, 5, 0))), LOG_OK);
    EXPECT_FALSE(reader.hasHeader());
    EXPECT_EQ(reader.title(), "");
    EXPECT_EQ(reader.recordCount(), 5);
    EXPECT_EQ(reader.trailingBytes(), 0);
    LogRecord records[8];
    ASSERT_EQ(reader.readRecords(1, 8, records), 4);  // clipped at the end
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(records[k], numbered(k + 1));
    EXPECT_EQ(reader.readRecords(5, 1, records), 0);
}

TEST_F(LogReaderTest, ShortAndEmptyFiles) {
    ASSERT_EQ(reader.open(make({})), LOG_OK);
    EXPECT_FALSE(reader.hasHeader());
    EXPECT_EQ(reader.recordCount(), 0);
    EXPECT_EQ(reader.trailingBytes(), 0);

    ASSERT_EQ(reader.open(make(logBytes(false, 0, 83))), LOG_OK);
    EXPECT_EQ(reader.recordCount(), 0);
    EXPECT_EQ(reader.trailingBytes(), 83);

    std::vector<std::uint8_t> header = logBytes(true, 0, 0);
    header.resize(20);  // "KVX, Firmware ver: 1"
    ASSERT_EQ(reader.open(make(header)), LOG_OK);
    EXPECT_TRUE(reader.hasHeader());
    EXPECT_TRUE(reader.headerTruncated());
    EXPECT_EQ(reader.recordCount(), 0);
    LogRecord record;
    EXPECT_EQ(reader.readRecord(0, record), LOG_BAD_INDEX);
}

TEST_F(LogReaderTest, FilesThatCannotBeReadAreReportedAsSuch) {
    EXPECT_EQ(reader.open(dir.file("none.log")), LOG_OPEN_FAILED);
    EXPECT_EQ(reader.errorNumber(), ENOENT);
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.recordCount(), 0);
    EXPECT_EQ(reader.open(dir.path()), LOG_NOT_REGULAR);
    EXPECT_EQ(reader.errorNumber(), EISDIR);
    LogRecord record;
    EXPECT_EQ(reader.readRecord(0, record), LOG_BAD_INDEX);

    // Reopening another file forgets the previous one's header.
    ASSERT_EQ(reader.open(make(logBytes(true, 1, 0))), LOG_OK);
    ASSERT_EQ(reader.open(make(logBytes(false, 2, 0))), LOG_OK);
    EXPECT_FALSE(reader.hasHeader());
    EXPECT_EQ(reader.recordCount(), 2);
}

TEST_F(LogReaderTest, ReadsBackEveryRecordTheWriterWasGiven) {
    LogWriter writer(dir.path(), [] { return test::at(2014, 5, 24, 13); });
    ASSERT_EQ(writer.openLogFile(LogWriter::kRequestHeader, 113), LOG_OK);
    constexpr int kCount = 1000;
    for (int n = 0; n < kCount; ++n) {
        if (n == 400) {
            ASSERT_EQ(writer.openLogFile(LogWriter::kRequestConnect, 113), LOG_OK);
        }
        ASSERT_EQ(writer.appendLogRecord(numbered(n)), LOG_OK);
    }
    ASSERT_EQ(writer.closeLogFile(), LOG_OK);

    ASSERT_EQ(reader.open(dir.file("log_2014_5_24_13.log")), LOG_OK);
    EXPECT_TRUE(reader.hasHeader());
    ASSERT_EQ(reader.recordCount(), kCount);
    EXPECT_EQ(reader.trailingBytes(), 0);
    std::vector<LogRecord> records(kCount);
    ASSERT_EQ(reader.readRecords(0, kCount, records.data()), kCount);
    for (int n = 0; n < kCount; ++n)
        ASSERT_EQ(records[n], numbered(n)) << "record " << n;
    LogRecord record;
    ASSERT_EQ(reader.readRecord(777, record), LOG_OK);
    EXPECT_EQ(record, numbered(777));
}

}  // namespace
}  // namespace kvx
