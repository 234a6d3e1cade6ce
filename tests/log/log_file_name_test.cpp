#include "log/log_file_name.h"

#include <gtest/gtest.h>

#include "log_test_support.h"

namespace kvx {
namespace {

std::string nameAt(std::int64_t calendarTime) {
    LocalDateTime t;
    EXPECT_TRUE(localDateTime(calendarTime, t));
    return logFileName(t);
}

TEST(LogFileName, FollowsTheLocalHourWithoutLeadingZeros) {
    test::useCentralEuropeanTime();
    // 24 May 2014, summer time (UTC+2).
    EXPECT_EQ(nameAt(test::utc(2014, 5, 24, 7, 15, 0)), "log_2014_5_24_9.log");
    EXPECT_EQ(nameAt(test::utc(2014, 5, 24, 7, 59, 59)), "log_2014_5_24_9.log");
    EXPECT_EQ(nameAt(test::utc(2014, 5, 24, 8, 0, 0)), "log_2014_5_24_10.log");
    EXPECT_EQ(nameAt(test::utc(2014, 5, 24, 11, 0, 0)), "log_2014_5_24_13.log");
}

TEST(LogFileName, RollsOverAtMidnightMonthAndYear) {
    test::useCentralEuropeanTime();
    EXPECT_EQ(nameAt(test::utc(2014, 12, 31, 22, 59, 59)), "log_2014_12_31_23.log");
    EXPECT_EQ(nameAt(test::utc(2014, 12, 31, 23, 0, 0)), "log_2015_1_1_0.log");
    EXPECT_EQ(nameAt(test::utc(2016, 2, 28, 23, 0, 0)), "log_2016_2_29_0.log");
}

TEST(LogFileName, SkipsTheHourLostToSummerTime) {
    test::useCentralEuropeanTime();
    // 30 March 2014: 01:59:59 CET is followed by 03:00:00 CEST.
    EXPECT_EQ(nameAt(test::utc(2014, 3, 30, 0, 59, 59)), "log_2014_3_30_1.log");
    EXPECT_EQ(nameAt(test::utc(2014, 3, 30, 1, 0, 0)), "log_2014_3_30_3.log");
}

TEST(LogFileName, LiesInsideTheGivenDirectory) {
    const LocalDateTime t = test::at(2014, 5, 24, 13);
    EXPECT_EQ(logFilePath("/data/Orvik_KVX", t), "/data/Orvik_KVX/log_2014_5_24_13.log");
    EXPECT_EQ(logFilePath("/data/Orvik_KVX/", t), "/data/Orvik_KVX/log_2014_5_24_13.log");
    EXPECT_EQ(logFilePath("", t), "log_2014_5_24_13.log");
}

}  // namespace
}  // namespace kvx
