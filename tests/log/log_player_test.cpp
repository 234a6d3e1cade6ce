#include "log/log_player.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "log/log_file_name.h"
#include "log/log_result.h"
#include "log/log_writer.h"
#include "log_test_support.h"

namespace kvx {
namespace {

constexpr std::int32_t kStartTime = 1400936400;  // 2014-05-24 13:00 UTC

// Record n of a test file: every value tells its record and field apart.
LogRecord numbered(int n) {
    LogRecord record;
    record.time = kStartTime + n / 5;
    for (int i = 0; i < kLogValueCount; ++i)
        record.values[static_cast<std::size_t>(i)] = n * 10 + i;
    return record;
}

// The chart as the player sees it, keeping what it was given.
struct FakeTrend : PlaybackTrend {
    int cap = 300;
    int clears = 0;
    int displayIndex = -1;
    std::vector<std::time_t> stamps;
    std::vector<std::array<double, kPlaybackChannels>> samples;  // one row per time stamp

    int capacity() const override { return cap; }
    void clear() override {
        ++clears;
        stamps.clear();
        samples.clear();
    }
    void putTimeStamp(std::time_t time) override {
        stamps.push_back(time);
        samples.emplace_back();
    }
    void addSample(double value, int channel) override {
        samples.back()[static_cast<std::size_t>(channel)] = value;
    }
    void setDisplayIndex(int index) override { displayIndex = index; }
};

class LogPlayerTest : public ::testing::Test {
  protected:
    // A file written by the log writer: with a header when it is the run's first request.
    std::string writeLog(int records, bool header = true, int firmware = 113) {
        LogWriter writer(dir.path(), [] { return test::at(2014, 5, 24, 13); });
        writer.openLogFile(header ? LogWriter::kRequestHeader : LogWriter::kRequestConnect,
                           firmware);
        for (int n = 0; n < records; ++n)
            writer.appendLogRecord(numbered(n));
        writer.closeLogFile();
        return logFilePath(dir.path(), test::at(2014, 5, 24, 13));
    }
    // The record LiveData shows, by its exhaust temperature (field 0 = n * 10).
    int shownRecord() const { return live.exhaust_temp / 10; }

    test::TempDir dir;
    LiveData live;
    FakeTrend trend;
    std::vector<std::string> titles;
    LogPlayer player{live, trend, [this](const std::string& t) { titles.push_back(t); }};
};

TEST_F(LogPlayerTest, OpeningAFileLoadsItsFirstChunkAndShowsRecordZero) {
    struct Case {
        const char* name;
        int records;
        bool header;
        int trailingBytes;  // of a further, unfinished record
        int lastIndex;
        int chunkLast;
        const char* title;
    } const cases[] = {
        {"one record", 1, true, 0, 0, 0, "KVX, Firmware ver: 1.13"},
        {"within one chunk", 120, true, 0, 119, 119, "KVX, Firmware ver: 1.13"},
        {"two chunks", 450, true, 0, 449, 300, "KVX, Firmware ver: 1.13"},
        {"no header: played from the first byte", 5, false, 0, 4, 4, nullptr},
        {"a trailing partial record is never played", 3, true, 50, 2, 2, "KVX, Firmware ver: 1.13"},
        {"partial record without a header", 7, false, 83, 6, 6, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = writeLog(c.records, c.header);
        if (c.trailingBytes) {
            std::vector<std::uint8_t> bytes = test::readBytes(path);
            std::uint8_t extra[kLogRecordSize];
            encodeLogRecord(numbered(999), extra);
            test::appendBytes(bytes, extra, static_cast<std::size_t>(c.trailingBytes));
            test::writeBytes(path, bytes);
        }
        titles.clear();
        live.aux_d = 4242;  // past the logged fields: playback leaves it alone
        ASSERT_EQ(player.openFile(path), LOG_OK);
        EXPECT_TRUE(player.loaded());
        EXPECT_EQ(player.playbackPosition(), 0);
        EXPECT_EQ(player.lastRecordIndex(), c.lastIndex);
        EXPECT_EQ(player.chunkFirst(), 0);
        EXPECT_EQ(player.chunkLast(), c.chunkLast);
        ASSERT_EQ(player.chunkRecords().size(), static_cast<std::size_t>(c.chunkLast + 1));
        EXPECT_EQ(player.chunkRecords().back(), numbered(c.chunkLast));
        EXPECT_EQ(shownRecord(), 0);
        EXPECT_EQ(live.vibration_max, 19);
        EXPECT_EQ(live.aux_d, 4242);
        EXPECT_EQ(trend.displayIndex, 1);
        EXPECT_EQ(trend.stamps.size(), static_cast<std::size_t>(c.chunkLast + 1));
        if (c.title) {
            EXPECT_EQ(player.title(), c.title);
            EXPECT_EQ(titles, std::vector<std::string>{c.title});
        } else {
            EXPECT_EQ(player.title(), "");
            EXPECT_EQ(titles, std::vector<std::string>{""});  // the window drops the last one
        }
        std::filesystem::remove(path);
    }
}

TEST_F(LogPlayerTest, AFileThatCannotBePlayedLoadsNothingAndKeepsThePanel) {
    const std::string empty = dir.file("empty.log");
    test::writeBytes(empty, {});
    const std::string shortFile = dir.file("short.log");
    test::writeBytes(shortFile, std::vector<std::uint8_t>(83, 7));
    const std::string headerOnly = dir.file("header_only.log");
    const LogHeader h = makeLogHeader(113);
    test::writeBytes(headerOnly, {h.begin(), h.end()});
    const std::string good = writeLog(10);

    struct Case {
        std::string path;
        int result;
    } const cases[] = {
        {dir.file("missing.log"), LOG_OPEN_FAILED},
        {dir.path(), LOG_NOT_REGULAR},
        {empty, LOG_NO_RECORDS},
        {shortFile, LOG_NO_RECORDS},
        {headerOnly, LOG_NO_RECORDS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_EQ(player.openFile(good), LOG_OK);
        ASSERT_EQ(player.changePosition(7), LOG_OK);
        player.play();
        EXPECT_EQ(player.openFile(c.path), c.result);
        EXPECT_FALSE(player.loaded());
        EXPECT_EQ(player.lastRecordIndex(), 0);
        EXPECT_EQ(player.playbackPosition(), 0);
        EXPECT_TRUE(player.chunkRecords().empty());
        EXPECT_EQ(player.timerMs(), 0);
        EXPECT_EQ(shownRecord(), 7);  // what the panel showed stays
        // Nothing to play: the buttons and the trackbar do nothing.
        player.play();
        EXPECT_EQ(player.timerMs(), 0);
        EXPECT_EQ(player.changePosition(3), LOG_NOT_OPEN);
        EXPECT_EQ(player.tick(), LOG_NOT_OPEN);
        EXPECT_EQ(shownRecord(), 7);
    }
}

TEST_F(LogPlayerTest, ChunksFollowTheTrendCapacityAndShareTheirLastRecord) {
    ASSERT_EQ(player.openFile(writeLog(1000)), LOG_OK);
    ASSERT_EQ(player.chunkLoads(), 1);
    struct Step {
        int to;
        bool reloads;
        int first, last;
    } const steps[] = {
        {1, false, 0, 300},     {299, false, 0, 300},   {300, true, 300, 600},
        {301, false, 300, 600}, {599, false, 300, 600}, {600, true, 600, 900},
        {599, true, 300, 600},  {299, true, 0, 300},    {999, true, 900, 999},
        {998, false, 900, 999}, {0, true, 0, 300},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.to);
        const long loads = player.chunkLoads();
        const int clears = trend.clears;
        ASSERT_EQ(player.changePosition(s.to), LOG_OK);
        EXPECT_EQ(player.chunkLoads() - loads, s.reloads ? 1 : 0);
        EXPECT_EQ(trend.clears - clears, s.reloads ? 1 : 0);
        EXPECT_EQ(player.playbackPosition(), s.to);
        EXPECT_EQ(player.chunkFirst(), s.first);
        EXPECT_EQ(player.chunkLast(), s.last);
        EXPECT_EQ(shownRecord(), s.to);
        EXPECT_EQ(trend.displayIndex, s.to - s.first + 1);
        // The chart holds the whole chunk, record by record.
        ASSERT_EQ(trend.stamps.size(), static_cast<std::size_t>(s.last - s.first + 1));
        EXPECT_EQ(trend.stamps.front(), numbered(s.first).time);
        EXPECT_EQ(trend.samples.back()[8], numbered(s.last).values[15]);  // engine speed
    }
}

TEST_F(LogPlayerTest, TheChartGetsTheTenChannelsInEngineeringUnits) {
    LogRecord r;
    r.values[16] = 1234;  // diesel flow, tenths
    r.values[2] = 987;    // load, tenths
    r.values[13] = -250;  // pressure feedback, hundredths: may be negative
    r.values[14] = 3100;  // actuator
    r.values[4] = 456;    // vibration, thousandths
    r.values[12] = 812;   // pressure set-point, hundredths
    r.values[0] = 780;    // exhaust temperature
    r.values[15] = 1500;  // engine speed
    r.values[19] = -1;    // vibration maximum: kept as it is
    const double expected[] = {123.4, 98.7, -2.5, 3100, 0.456, 8.12, 780, 0, 1500, -0.001};
    const auto v = playbackChannelValues(r);
    for (int c = 0; c < kPlaybackChannels; ++c)
        EXPECT_DOUBLE_EQ(v[static_cast<std::size_t>(c)], expected[c]) << "channel " << c;

    // Negative flows, load and vibration are shown as 0.
    r.values[16] = -5;
    r.values[2] = -7;
    r.values[4] = -1;
    const auto z = playbackChannelValues(r);
    EXPECT_EQ(z[0], 0.0);
    EXPECT_EQ(z[1], 0.0);
    EXPECT_EQ(z[4], 0.0);
}

TEST_F(LogPlayerTest, ButtonsSetTheDirectionAndTheTimer) {
    ASSERT_EQ(player.openFile(writeLog(50)), LOG_OK);
    struct Case {
        const char* name;
        void (LogPlayer::*press)();
        bool forward, reverse;
        int timerMs;
    } const cases[] = {
        {"Play", &LogPlayer::play, true, false, 100},
        {">>", &LogPlayer::fastForward, true, false, 5},
        {"<<", &LogPlayer::fastReverse, false, true, 5},
        {"||", &LogPlayer::pause, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        player.fastReverse();  // whatever was going on before
        (player.*c.press)();
        EXPECT_EQ(player.playForward(), c.forward);
        EXPECT_EQ(player.playReverse(), c.reverse);
        EXPECT_EQ(player.timerMs(), c.timerMs);
    }
}

TEST_F(LogPlayerTest, TicksStepOneRecordInThePlayedDirection) {
    ASSERT_EQ(player.openFile(writeLog(50)), LOG_OK);
    player.play();
    for (int n = 1; n <= 3; ++n) {
        ASSERT_EQ(player.tick(), LOG_OK);
        EXPECT_EQ(player.playbackPosition(), n);
        EXPECT_EQ(shownRecord(), n);
    }
    player.fastReverse();
    ASSERT_EQ(player.tick(), LOG_OK);
    EXPECT_EQ(player.playbackPosition(), 2);
    EXPECT_EQ(shownRecord(), 2);
    player.pause();
    EXPECT_EQ(player.tick(), LOG_OK);  // a late tick after pause moves nothing
    EXPECT_EQ(player.playbackPosition(), 2);
}

TEST_F(LogPlayerTest, StopGoesToRecordOneAndLeavesTheDirection) {
    ASSERT_EQ(player.openFile(writeLog(50)), LOG_OK);
    ASSERT_EQ(player.changePosition(30), LOG_OK);
    player.fastForward();
    ASSERT_EQ(player.stop(), LOG_OK);
    EXPECT_EQ(player.playbackPosition(), 1);
    EXPECT_EQ(shownRecord(), 1);
    EXPECT_EQ(player.timerMs(), 0);
    EXPECT_TRUE(player.playForward());
}

TEST_F(LogPlayerTest, ForwardPlayPastTheLastRecordStopsAtRecordOne) {
    ASSERT_EQ(player.openFile(writeLog(40)), LOG_OK);
    ASSERT_EQ(player.changePosition(38), LOG_OK);
    player.fastForward();
    ASSERT_EQ(player.tick(), LOG_OK);
    EXPECT_EQ(player.playbackPosition(), 39);
    EXPECT_EQ(player.timerMs(), 5);
    ASSERT_EQ(player.tick(), LOG_OK);
    EXPECT_EQ(player.playbackPosition(), 1);
    EXPECT_EQ(shownRecord(), 1);
    EXPECT_EQ(player.timerMs(), 0);
}

TEST_F(LogPlayerTest, PlayOnAOneRecordFileStopsAtOnce) {
    ASSERT_EQ(player.openFile(writeLog(1)), LOG_OK);
    EXPECT_EQ(player.lastRecordIndex(), 0);
    player.play();
    ASSERT_EQ(player.tick(), LOG_OK);
    EXPECT_EQ(player.timerMs(), 0);
    // Record 1 does not exist here: the position stays on the only record, which is shown.
    EXPECT_EQ(player.playbackPosition(), 0);
    EXPECT_EQ(shownRecord(), 0);
    EXPECT_EQ(player.stop(), LOG_OK);
    EXPECT_EQ(player.playbackPosition(), 0);
}

TEST_F(LogPlayerTest, ReversePlayStopsAtRecordZero) {
    ASSERT_EQ(player.openFile(writeLog(400)), LOG_OK);
    ASSERT_EQ(player.changePosition(301), LOG_OK);
    player.fastReverse();
    for (int expected = 300; expected >= 0; --expected) {
        ASSERT_EQ(player.tick(), LOG_OK);
        ASSERT_EQ(player.playbackPosition(), expected);
    }
    EXPECT_EQ(player.chunkFirst(), 0);  // stepping back from 300 reloaded chunk 0
    EXPECT_EQ(player.timerMs(), 5);
    ASSERT_EQ(player.tick(), LOG_OK);
    EXPECT_EQ(player.playbackPosition(), 0);
    EXPECT_EQ(player.timerMs(), 0);
    EXPECT_EQ(shownRecord(), 0);
}

TEST_F(LogPlayerTest, ReversePlayFromTheLastRecordStepsBack) {
    ASSERT_EQ(player.openFile(writeLog(40)), LOG_OK);
    ASSERT_EQ(player.changePosition(39), LOG_OK);
    player.fastReverse();
    ASSERT_EQ(player.tick(), LOG_OK);
    EXPECT_EQ(player.playbackPosition(), 38);
    EXPECT_EQ(player.timerMs(), 5);
}

TEST_F(LogPlayerTest, AFileThatGoesAwayStopsPlayAndKeepsTheShownRecord) {
    const std::string path = writeLog(1000);
    ASSERT_EQ(player.openFile(path), LOG_OK);
    ASSERT_EQ(player.changePosition(250), LOG_OK);
    ::unlink(path.c_str());
    player.fastForward();
    // Inside the chunk nothing is read: play goes on.
    ASSERT_EQ(player.tick(), LOG_OK);
    EXPECT_EQ(player.playbackPosition(), 251);
    EXPECT_EQ(player.changePosition(300), LOG_OPEN_FAILED);
    EXPECT_EQ(player.playbackPosition(), 251);
    EXPECT_EQ(shownRecord(), 251);
    EXPECT_EQ(trend.displayIndex, 252);
    EXPECT_EQ(player.chunkFirst(), 0);
    EXPECT_EQ(player.chunkLast(), 300);
    EXPECT_EQ(player.timerMs(), 0);
    EXPECT_FALSE(player.playForward());
    // The loaded chunk can still be looked through.
    EXPECT_EQ(player.changePosition(12), LOG_OK);
    EXPECT_EQ(shownRecord(), 12);
}

TEST_F(LogPlayerTest, AFileCutShortBetweenLoadsKeepsTheShownRecord) {
    const std::string path = writeLog(1000);
    ASSERT_EQ(player.openFile(path), LOG_OK);
    std::filesystem::resize_file(path, kLogHeaderSize + 500 * kLogRecordSize);
    EXPECT_EQ(player.changePosition(700), LOG_BAD_INDEX);
    EXPECT_EQ(player.playbackPosition(), 0);
    EXPECT_EQ(player.changePosition(400), LOG_OK);
    EXPECT_EQ(player.chunkFirst(), 300);
    EXPECT_EQ(player.chunkLast(), 499);  // what is left of chunk 1
    EXPECT_EQ(shownRecord(), 400);
}

TEST_F(LogPlayerTest, ANewTrendCapacityCutsTheChunksAnew) {
    ASSERT_EQ(player.openFile(writeLog(1000)), LOG_OK);
    ASSERT_EQ(player.changePosition(150), LOG_OK);
    trend.cap = 100;  // the window got narrower
    ASSERT_EQ(player.changePosition(151), LOG_OK);
    EXPECT_EQ(player.chunkFirst(), 100);
    EXPECT_EQ(player.chunkLast(), 200);
    EXPECT_EQ(trend.displayIndex, 52);
    EXPECT_EQ(shownRecord(), 151);
}

TEST_F(LogPlayerTest, PositionsOutsideTheFileAreClamped) {
    ASSERT_EQ(player.openFile(writeLog(20)), LOG_OK);
    EXPECT_EQ(player.changePosition(-3), LOG_OK);
    EXPECT_EQ(player.playbackPosition(), 0);
    EXPECT_EQ(player.changePosition(500), LOG_OK);
    EXPECT_EQ(player.playbackPosition(), 19);
    EXPECT_EQ(shownRecord(), 19);
}

}  // namespace
}  // namespace kvx
