// The overview's columns and lookups over log files written here: every record's value in its
// column's minimum and maximum, gaps as gaps, damaged records marked and never plotted, and a
// click that finds the record drawn at that moment.
#include "overview/overview_set.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kvx
