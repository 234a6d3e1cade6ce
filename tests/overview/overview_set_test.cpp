// The overview's columns and lookups over log files written here: every record's value in its
// column's minimum and maximum, gaps as gaps, damaged records marked and never plotted, and a
// click that finds the record drawn at that moment.
#include "overview/overview_set.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "log/log_reader.h"
#include "overview/channel_table.h"
#include "overview_test_support.h"

namespace kvx {
namespace {

using test::TempDir;

class OverviewSetTest : public ::testing::Test {
  protected:
    void SetUp() override { test::useCentralEuropeanTime(); }

    // A set over the files, summarised with a cache of its own.
    OverviewSet build(const std::vector<std::string>& paths) {
        OverviewSet set(std::make_shared<OverviewCache>(cacheDir_.path()));
        set.setFiles(paths);
        EXPECT_TRUE(set.build());
        return set;
    }

    std::string write(std::int64_t hourTime, const std::vector<LogRecord>& records) {
        const std::string path = dir_.file(test::logNameFor(hourTime));
        test::writeBytes(path, test::logBytes(records));
        return path;
    }

    TempDir dir_, cacheDir_;
};

constexpr int kSpeed = 15;

TEST_F(OverviewSetTest, ASingleSpikeRecordOfADayIsInItsColumnAtEveryWidth) {
    // A day of hourly files at two records a second, one record with an engine speed far
    // above and one with a load far below the rest.
    const std::int64_t day = test::utc(2026, 12, 7, 23, 0, 0);  // local midnight, CET
    std::vector<std::string> paths;
    std::int64_t highIndex = 4321, lowIndex = 7000;
    int highFile = 13, lowFile = 2;
    double highTime = 0, lowTime = 0;
    for (int h = 0; h < 24; ++h) {
        std::vector<LogRecord> records =
            test::steadyRecords(day + h * 3600, 3600, 2, [](int f) { return 1000 + f; });
        if (h == highFile) {
            records[highIndex].values[kSpeed] = 32000;
            highTime = records[highIndex].time + (highIndex % 2) * 0.5;
        }
        if (h == lowFile) {
            records[lowIndex].values[2] = -30000;
            lowTime = records[lowIndex].time + (lowIndex % 2) * 0.5;
        }
        paths.push_back(write(day + h * 3600, records));
    }
    const OverviewSet set = build(paths);
    ASSERT_EQ(set.usableCount(), 24u);
    EXPECT_DOUBLE_EQ(set.firstTime(), static_cast<double>(day));
    EXPECT_DOUBLE_EQ(set.endTime(), static_cast<double>(day + 24 * 3600));

    for (const int width : {1, 7, 333, 1920, 86400, 250000}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const OverviewColumns c = set.reduce(set.firstTime(), set.endTime(), width);
        ASSERT_EQ(c.width, width);
        const int highColumn = c.columnOf(highTime), lowColumn = c.columnOf(lowTime);
        std::uint64_t records = 0;
        for (int x = 0; x < width; ++x) {
            records += c.records[x];
            if (!c.hasData(x)) continue;
            EXPECT_EQ(c.high(x, kSpeed) == 32000, x == highColumn) << "column " << x;
            EXPECT_EQ(c.low(x, 2) == -30000, x == lowColumn) << "column " << x;
            EXPECT_EQ(c.low(x, kSpeed), x == highColumn && c.records[x] == 1 ? 32000 : 1015);
        }
        EXPECT_EQ(records, 24u * 7200u);
    }
}

// An alarm (alarm_flags non-zero) and the local shutoff switch, each in one record of an hour,
// are flagged in that record's column and no other, at every width.
TEST_F(OverviewSetTest, AlarmsAndShutoffsAreFlaggedInTheirColumnsOnly) {
    const std::int64_t h10 = test::utc(2026, 12, 8, 9, 0, 0);
    std::vector<LogRecord> records = test::steadyRecords(h10, 3600, 5, [](int) { return 0; });
    const std::int64_t alarm = 7777, shutoff = 12001;
    records[alarm].values[8] = 0x40;
    records[shutoff].values[6] = 1;
    const OverviewSet set = build({write(h10, records)});
    for (const int width : {10, 1920, 50000}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const OverviewColumns c = set.reduce(h10, h10 + 3600, width);
        const int alarmColumn = c.columnOf(h10 + alarm / 5 + (alarm % 5) / 5.0);
        const int shutoffColumn = c.columnOf(h10 + shutoff / 5 + (shutoff % 5) / 5.0);
        for (int x = 0; x < width; ++x) {
            EXPECT_EQ((c.flags[x] & kColumnAlarm) != 0, x == alarmColumn) << "column " << x;
            EXPECT_EQ((c.flags[x] & kColumnShutdown) != 0, x == shutoffColumn) << "column " << x;
        }
    }
}

// Files whose times overlap (a unit's log and a copy of another's, put in one folder): every
// record of each is in the columns of its time.
TEST_F(OverviewSetTest, FilesThatOverlapInTimeAreAllShown) {
    const std::int64_t h10 = test::utc(2026, 12, 8, 9, 0, 0);
    const std::string ten = write(h10, test::steadyRecords(h10, 3780, 1));  // 10:00 to 11:03
    const std::string other = dir_.file("other_unit.log");
    test::writeBytes(other, test::logBytes(test::steadyRecords(
                                h10 + 1800, 3600, 1, [](int) { return 7; })));  // 10:30 to 11:30
    const OverviewSet set = build({ten, other});
    ASSERT_EQ(set.usableCount(), 2u);
    for (const int width : {9, 900, 9000}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const OverviewColumns c = set.reduce(h10 + 900, h10 + 3720, width);  // 10:15 to 11:02
        std::uint64_t records = 0;
        for (int x = 0; x < c.width; ++x) {
            records += c.records[x];
            if (c.timeOf(x) >= h10 + 1801 && c.hasData(x)) {
                EXPECT_EQ(c.low(x, 0), 7) << "column " << x;
            }
        }
        EXPECT_EQ(records, (3720u - 900u) + (3720u - 1800u));
    }
}

// Gaps: a stretch of more than kOverviewGapSeconds without records, inside a file or between
// files (an hour not logged), is shaded and has no line across it; a shorter pause is not a gap.
TEST_F(OverviewSetTest, GapsAreGapsAndShortPausesAreNot) {
    const std::int64_t h10 = test::utc(2026, 12, 8, 9, 0, 0);  // 10:00 local
    // 10:00-10:10, a pause (the stamps kOverviewGapSeconds apart), on to 10:20; nothing
    // 10:20-10:40; 10:40-11:00; no 11 o'clock file; 12:00-12:30.
    std::vector<LogRecord> ten = test::steadyRecords(h10, 600);
    const std::int64_t resume = 599 + kOverviewGapSeconds;
    const std::vector<LogRecord> afterPause =
        test::steadyRecords(h10 + resume, 1200 - static_cast<int>(resume));
    ten.insert(ten.end(), afterPause.begin(), afterPause.end());
    const std::vector<LogRecord> late = test::steadyRecords(h10 + 2400, 1200);
    ten.insert(ten.end(), late.begin(), late.end());
    const std::string tenPath = write(h10, ten);
    const std::string twelvePath = write(h10 + 7200, test::steadyRecords(h10 + 7200, 1800));
    const OverviewSet set = build({tenPath, twelvePath});

    enum Kind { Data, Pause, Gap };
    struct Span {
        double from, to;  // seconds after 10:00
        Kind kind;
    };
    const Span spans[] = {
        {0, 599, Data},     {600, resume, Pause}, {resume, 1199, Data}, {1201, 2399, Gap},
        {2400, 3599, Data}, {3601, 7199, Gap},    {7200, 8999, Data},   {9001, 10800, Gap},
    };
    for (const int width : {120, 1080, 10800}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const OverviewColumns c = set.reduce(h10, h10 + 10800, width);
        for (const Span& span : spans) {
            const int first = c.columnOf(h10 + span.from) + 1, last = c.columnOf(h10 + span.to) - 1;
            for (int x = first; x <= last; ++x) {
                if (span.kind != Pause) {
                    EXPECT_EQ(c.hasData(x), span.kind == Data)
                        << "column " << x << " at " << span.from;
                }
                EXPECT_EQ((c.flags[x] & kColumnGap) != 0, span.kind == Gap) << "column " << x;
            }
        }
        // A line starts afresh after each gap (and at the start), nowhere else.
        std::vector<int> breaks;
        for (int x = 0; x < c.width; ++x)
            if (c.flags[x] & kColumnBreakBefore) breaks.push_back(x);
        EXPECT_EQ(breaks, (std::vector<int>{0, c.columnOf(h10 + 2400), c.columnOf(h10 + 7200)}));
    }
}

// A file cut short, one with damaged records, one of another program and an empty one: every
// readable record is in the columns, the damaged ones are marked where they lie and their
// values are in no column, and the unusable files are named with the reason.
TEST_F(OverviewSetTest, DamagedAndTruncatedFilesShowEveryReadableRecordAndMarkTheDamage) {
    const std::int64_t h10 = test::utc(2026, 12, 8, 9, 0, 0);
    std::vector<LogRecord> records = test::steadyRecords(h10, 3600);
    const std::int64_t outOfRange = 100, beforeEighties = 9000, outOfHour = 15000;
    records[outOfRange].values[kSpeed] = 70000;
    records[beforeEighties].time = 12;
    records[outOfHour].time = static_cast<std::int32_t>(h10 - 86400);
    std::vector<std::uint8_t> bytes = test::logBytes(records);
    bytes.resize(bytes.size() - 30);  // the last record cut: copied while being written
    const std::string damagedPath = dir_.file(test::logNameFor(h10));
    test::writeBytes(damagedPath, bytes);
    const std::string foreign = dir_.file(test::logNameFor(h10 + 3600));
    test::writeBytes(foreign, std::vector<std::uint8_t>(5000, 0xA5));
    const std::string empty = dir_.file(test::logNameFor(h10 + 7200));
    test::writeBytes(empty, test::logBytes({}));
    const std::string missing = dir_.file("log_2026_12_8_20.log");

    const OverviewSet set = build({damagedPath, foreign, empty, missing});
    ASSERT_EQ(set.files().size(), 4u);
    EXPECT_EQ(set.files()[0].problem, "");
    ASSERT_NE(set.files()[0].summary, nullptr);
    EXPECT_EQ(set.files()[0].summary->recordCount, 17999);
    EXPECT_EQ(set.files()[0].summary->damagedCount, 3);
    EXPECT_EQ(set.files()[0].summary->trailingBytes, kLogRecordSize - 30);
    EXPECT_THAT(set.files()[1].problem, ::testing::StartsWith("not a KVX log file"));
    EXPECT_EQ(set.files()[2].problem, "holds no records");
    EXPECT_THAT(set.files()[3].problem, ::testing::HasSubstr("No such file"));
    EXPECT_EQ(set.usableCount(), 1u);

    for (const int width : {60, 3600, 20000}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const OverviewColumns c = set.reduce(h10, h10 + 3600, width);
        std::uint64_t shown = 0;
        std::vector<int> damagedColumns;
        for (int x = 0; x < c.width; ++x) {
            shown += c.records[x];
            if (c.flags[x] & kColumnDamaged) damagedColumns.push_back(x);
            if (c.hasData(x)) {
                EXPECT_EQ(c.high(x, kSpeed), 100 + kSpeed);
            }
        }
        EXPECT_EQ(shown, 17999u - 3u);
        // Each damaged record is marked where the record before it is drawn (each is the
        // first of its second, so that one is the last of the second before, at .8).
        std::vector<int> expected;
        for (const std::int64_t i : {outOfRange, beforeEighties, outOfHour})
            expected.push_back(c.columnOf(h10 + i / 5 - 0.2));
        std::sort(expected.begin(), expected.end());
        expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
        for (const int x : expected)
            EXPECT_NE(std::find(damagedColumns.begin(), damagedColumns.end(), x),
                      damagedColumns.end())
                << "column " << x;
        EXPECT_LE(damagedColumns.size(), expected.size() + 3);
    }
}

// A click at a moment finds the record drawn last at or before it, in the file of that hour,
// by the index the player uses (damaged records counted); before a file's first record, that
// first record.
TEST_F(OverviewSetTest, AClickFindsTheRecordDrawnAtThatMoment) {
    const std::int64_t h10 = test::utc(2026, 12, 8, 9, 0, 0);
    // 10:00:00-10:20:00, a gap to 10:30:00, on to the end of the hour; 11:00:30 to 11:10.
    std::vector<LogRecord> ten = test::steadyRecords(h10, 1200);
    const std::vector<LogRecord> rest = test::steadyRecords(h10 + 1800, 1800);
    ten.insert(ten.end(), rest.begin(), rest.end());
    // Two of the five records of 10:00:10 damaged: the other three are drawn a third of a
    // second apart.
    ten[50].time = 5;
    ten[51].values[0] = 99999;
    const std::string tenPath = write(h10, ten);
    const std::string elevenPath = write(h10 + 3600, test::steadyRecords(h10 + 3630, 570));
    const OverviewSet set = build({tenPath, elevenPath});

    struct Click {
        double at;  // seconds after 10:00
        std::string file;
        std::int64_t record;
    };
    const Click clicks[] = {
        {0.0, tenPath, 0},          {0.19, tenPath, 0},       {0.2, tenPath, 1},
        {7.45, tenPath, 37},        {9.99, tenPath, 49},      {10.0, tenPath, 52},
        {10.3, tenPath, 52},        {10.4, tenPath, 53},      {1199.9, tenPath, 5999},
        {1500, tenPath, 5999},      {1800, tenPath, 6000},    {3599.99, tenPath, 14999},
        {3600, elevenPath, 0},      {3615, elevenPath, 0},    {3630.6, elevenPath, 3},
        {4199.8, elevenPath, 2849}, {4500, elevenPath, 2849},
    };
    LogReader reader;
    for (const Click& click : clicks) {
        SCOPED_TRACE("click at 10:00 + " + std::to_string(click.at) + " s");
        OverviewLocation at;
        ASSERT_TRUE(set.locate(h10 + click.at, at));
        EXPECT_EQ(at.path, click.file);
        EXPECT_EQ(at.record, click.record);
        ASSERT_EQ(reader.open(at.path), LOG_OK);
        LogRecord r;
        ASSERT_EQ(reader.readRecord(at.record, r), LOG_OK);
        EXPECT_EQ(at.time, r.time);
    }
    OverviewLocation none;
    EXPECT_FALSE(set.locate(h10 - 3600, none));
}

// The writer notices a new hour a little late, so an hour's file may hold the first records of
// the next hour: a click there finds them, not the next file's first record.
TEST_F(OverviewSetTest, AClickJustAfterTheHourFindsTheRecordsTheLastFileHoldsOfIt) {
    const std::int64_t h12 = test::utc(2026, 12, 8, 11, 0, 0);
    const std::string twelve = write(h12, test::steadyRecords(h12, 3720));  // to 13:01:59
    const std::string thirteen = write(h12 + 3600, test::steadyRecords(h12 + 3730, 600));
    const OverviewSet set = build({twelve, thirteen});
    struct Click {
        double at;  // seconds after 12:00
        std::string file;
        std::int64_t record;
    };
    const Click clicks[] = {
        {3600, twelve, 18000}, {3660.4, twelve, 18302}, {3725, twelve, 18599},
        {3730, thirteen, 0},   {3729.9, twelve, 18599},
    };
    for (const Click& click : clicks) {
        SCOPED_TRACE("click at 12:00 + " + std::to_string(click.at) + " s");
        OverviewLocation at;
        ASSERT_TRUE(set.locate(h12 + click.at, at));
        EXPECT_EQ(at.path, click.file);
        EXPECT_EQ(at.record, click.record);
    }
}

// What the window's worker does: progress after each file, and a cancel that stops the build
// with the files done so far usable and the rest not yet summarised.
TEST_F(OverviewSetTest, BuildReportsProgressAndStopsWhenCancelled) {
    const std::int64_t h10 = test::utc(2026, 12, 8, 9, 0, 0);
    std::vector<std::string> paths;
    for (int h = 0; h < 4; ++h)
        paths.push_back(write(h10 + h * 3600, test::steadyRecords(h10 + h * 3600, 60)));
    OverviewSet set(std::make_shared<OverviewCache>(cacheDir_.path()));
    set.setFiles(paths);
    std::atomic<bool> cancel{false};
    std::vector<std::pair<std::size_t, std::size_t>> calls;
    EXPECT_FALSE(set.build(
        [&](std::size_t done, std::size_t total) {
            calls.emplace_back(done, total);
            if (done == 2) cancel = true;
        },
        &cancel));
    EXPECT_EQ(calls, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 4}, {2, 4}}));
    EXPECT_EQ(set.usableCount(), 2u);
    EXPECT_EQ(set.files()[2].summary, nullptr);
    EXPECT_EQ(set.files()[2].problem, "");
    // Built again, it finishes (the first two from the cache).
    cancel = false;
    calls.clear();
    EXPECT_TRUE(set.build(
        [&](std::size_t done, std::size_t total) { calls.emplace_back(done, total); }, &cancel));
    EXPECT_EQ(calls.size(), 4u);
    EXPECT_EQ(set.usableCount(), 4u);
}

// The records in view, for an export: every plausible record drawn in [from, to), once, in
// time order, across files; none of the damaged ones.
TEST_F(OverviewSetTest, TheRecordsInViewAreEveryPlausibleRecordDrawnThereInOrder) {
    const std::int64_t h10 = test::utc(2026, 12, 8, 9, 0, 0);
    std::vector<LogRecord> ten = test::steadyRecords(h10 + 3000, 600);
    for (std::size_t i = 0; i < ten.size(); ++i)
        ten[i].values[0] = static_cast<std::int32_t>(i);
    ten[2990].values[1] = 40000;  // damaged
    std::vector<LogRecord> eleven = test::steadyRecords(h10 + 3600, 600);
    for (std::size_t i = 0; i < eleven.size(); ++i)
        eleven[i].values[0] = static_cast<std::int32_t>(3000 + i);
    const OverviewSet set = build({write(h10, ten), write(h10 + 3600, eleven)});
    std::vector<std::int32_t> seen;
    double last = 0;
    bool ordered = true;
    EXPECT_TRUE(set.forEachRecord(h10 + 3590.4, h10 + 3610, [&](const LogRecord& r, double t) {
        ordered = ordered && t > last && t >= h10 + 3590.4 && t < h10 + 3610;
        last = t;
        seen.push_back(r.values[0]);
    }));
    EXPECT_TRUE(ordered);
    std::vector<std::int32_t> expected;
    for (std::int32_t i = 2952; i < 3000; ++i)  // 10:59:50.4 on
        if (i != 2990) expected.push_back(i);
    for (std::int32_t i = 3000; i < 3050; ++i)  // to 11:00:10
        expected.push_back(i);
    EXPECT_EQ(seen, expected);
}

TEST(OverviewFolders, FindLogFilesNamesTheFilesOfTheHoursAskedForOrSaysWhyNone) {
    test::useCentralEuropeanTime();
    TempDir dir;
    const std::int64_t h10 = test::utc(2026, 12, 8, 9, 0, 0);
    std::string error;
    EXPECT_TRUE(findLogFiles(dir.file("nowhere"), h10, h10 + 3600, &error).empty());
    EXPECT_THAT(error, ::testing::StartsWith("cannot open folder " + dir.file("nowhere")));
    EXPECT_TRUE(findLogFiles(dir.path(), h10, h10 + 3600, &error).empty());
    EXPECT_THAT(error, ::testing::HasSubstr("holds no log files"));
    test::writeBytes(dir.file("notes.txt"), {1, 2, 3});
    test::writeBytes(dir.file("log_2026_13_8_10.log"), {1, 2, 3});
    EXPECT_TRUE(findLogFiles(dir.path(), h10, h10 + 3600, &error).empty());
    EXPECT_THAT(error, ::testing::HasSubstr("holds no log files"));
    for (const int h : {12, 9, 10})
        test::writeBytes(dir.file(test::logNameFor(h10 + (h - 10) * 3600)), {});
    EXPECT_TRUE(findLogFiles(dir.path(), h10 + 3600, h10 + 7200, &error).empty());
    EXPECT_EQ(error, "no log files between 2026-12-08 11:00 and 2026-12-08 12:00");
    EXPECT_EQ(
        findLogFiles(dir.path(), h10 - 1, h10 + 7201, &error),
        (std::vector<std::string>{dir.file("log_2026_12_8_9.log"), dir.file("log_2026_12_8_10.log"),
                                  dir.file("log_2026_12_8_12.log")}));
}

TEST(OverviewFolders, LocalTimesAreReadStrictly) {
    test::useCentralEuropeanTime();
    struct Case {
        const char* text;
        std::int64_t utc;  // -1: refused
    };
    const Case cases[] = {
        {"2026-12-08", test::utc(2026, 12, 7, 23, 0, 0)},
        {"2026-12-08T13", test::utc(2026, 12, 8, 12, 0, 0)},
        {"2026-12-08 13:30", test::utc(2026, 12, 8, 12, 30, 0)},
        {"2026-07-08T13:30:15", test::utc(2026, 7, 8, 11, 30, 15)},
        {"2026-02-30", -1},
        {"2026-12-08T24", -1},
        {"2026-12-08T13:60", -1},
        {"2026-12-8", -1},
        {"2026-12-08T13:30:15Z", -1},
        {"", -1},
        {"yesterday", -1},
        {"2026-12-08T", -1},
    };
    for (const Case& c : cases) {
        std::int64_t t = -1;
        EXPECT_EQ(parseLocalTime(c.text, t), c.utc >= 0) << c.text;
        if (c.utc >= 0) {
            EXPECT_EQ(t, c.utc) << c.text;
        }
    }
}

}  // namespace
}  // namespace kvx
