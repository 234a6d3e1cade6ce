// The plausibility check the log tool and the player apply to each record, and the hour a log
// file's name stands for.
#include "log/log_record_check.h"

#include <gtest/gtest.h>

#include "log_test_support.h"

namespace kvx {
namespace {

TEST(LogFileNameHour, ReadsOnlyNamesTheWriterMakes) {
    struct Case {
        const char* path;
        bool ok;
        LogFileHour want;
    };
    const Case cases[] = {
        {"log_2014_5_24_13.log", true, {2014, 5, 24, 13}},
        {"/media/usb/site 4/log_2026_12_31_0.log", true, {2026, 12, 31, 0}},
        {"LOG_2014_5_24_9.LOG", true, {2014, 5, 24, 9}},  // as a FAT copy may leave it
        {"log_2014_05_04_09.log", true, {2014, 5, 4, 9}},
        {"log_2014_5_24_24.log", false, {}},
        {"log_2014_13_1_0.log", false, {}},
        {"log_2014_5_0_1.log", false, {}},
        {"log_1969_5_24_1.log", false, {}},
        {"log_2014_5_24.log", false, {}},
        {"log_2014_5_24_13.log.bak", false, {}},
        {"log_2014_5_24_13x.log", false, {}},
        {"log__5_24_13.log", false, {}},
        {"log_2014_5_24_-1.log", false, {}},
        {"log_99999999_5_24_1.log", false, {}},
        {"visit.log", false, {}},
        {"log_2014_5_24_13.log/", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        LogFileHour hour{1, 1, 1, 1};
        EXPECT_EQ(parseLogFileName(c.path, hour), c.ok);
        if (c.ok) {
            EXPECT_EQ(hour.year, c.want.year);
            EXPECT_EQ(hour.month, c.want.month);
            EXPECT_EQ(hour.day, c.want.day);
            EXPECT_EQ(hour.hour, c.want.hour);
        } else {
            EXPECT_EQ(hour.year, 1);  // left as it was
        }
    }
    // Every name the writer makes reads back as its hour.
    LogFileHour back;
    ASSERT_TRUE(parseLogFileName(logFileName(test::at(2031, 11, 9, 23)), back));
    EXPECT_EQ(back.year * 1000000 + back.month * 10000 + back.day * 100 + back.hour, 2031110923);
}

TEST(LogRecordCheck, TimeFrom1980WithinTheFilesHourAndSixteenBitValues) {
    test::useCentralEuropeanTime();
    const LogFileHour may13{2014, 5, 24, 13};  // 11:00 to 12:00 UTC
    // 26 October 2014: 02:00 to 03:00 local time happens twice, 00:00 to 02:00 UTC.
    const LogFileHour twice{2014, 10, 26, 2};
    struct Case {
        const char* name;
        std::int64_t time;
        int field;  // -1: all values in range; else this field is 40000
        const LogFileHour* hour;
        bool plausible;
        const char* why;  // part of the reason when not plausible
    };
    const Case cases[] = {
        {"start of the hour", test::utc(2014, 5, 24, 11, 0, 0), -1, &may13, true, ""},
        {"last second", test::utc(2014, 5, 24, 11, 59, 59), -1, &may13, true, ""},
        {"late by the slack", test::utc(2014, 5, 24, 12, 4, 59), -1, &may13, true, ""},
        {"later than the slack", test::utc(2014, 5, 24, 12, 5, 0), -1, &may13, false,
         "time 2014-05-24T14:05:00+02:00 is outside the file's hour (2014-05-24 13:00 to 14:00)"},
        {"early by the slack", test::utc(2014, 5, 24, 10, 55, 0), -1, &may13, true, ""},
        {"earlier than the slack", test::utc(2014, 5, 24, 10, 54, 59), -1, &may13, false,
         "outside the file's hour"},
        {"same hour a day later", test::utc(2014, 5, 25, 11, 30, 0), -1, &may13, false,
         "outside the file's hour"},
        {"summer time's 02:30", test::utc(2014, 10, 26, 0, 30, 0), -1, &twice, true, ""},
        {"winter time's 02:30", test::utc(2014, 10, 26, 1, 30, 0), -1, &twice, true, ""},
        {"after both", test::utc(2014, 10, 26, 2, 30, 0), -1, &twice, false, "outside"},
        {"before 1980, no hour", kEarliestLogTime - 1, -1, nullptr, false,
         "time 315532799 is before 1980"},
        {"1980, no hour", kEarliestLogTime, -1, nullptr, true, ""},
        {"far from any hour, none given", INT32_MAX, -1, nullptr, true, ""},
        {"a value out of range", test::utc(2014, 5, 24, 11, 30, 0), 15, &may13, false,
         "engine_speed is 40000, not a 16-bit register value"},
        {"a value out of range, no hour", test::utc(2014, 5, 24, 11, 30, 0), 0, nullptr, false,
         "exhaust_temp is 40000"},
        {"in 1921 with a bad value: the time is named", -1541102094, 15, &may13, false,
         "before 1980"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogRecord record;
        record.time = static_cast<std::int32_t>(c.time);
        record.values.fill(-32768);
        record.values[3] = 32767;
        if (c.field >= 0) record.values[c.field] = 40000;
        std::string why;
        EXPECT_EQ(isPlausibleLogRecord(record, c.hour, &why), c.plausible);
        EXPECT_EQ(isPlausibleLogRecord(record, c.hour, nullptr), c.plausible);
        if (c.plausible) {
            EXPECT_EQ(why, "");
        } else {
            EXPECT_NE(why.find(c.why), std::string::npos) << why;
        }
        if (!c.hour) {
            EXPECT_EQ(isPlausibleLogRecord(record, &why), c.plausible);
        }
    }
}

}  // namespace
}  // namespace kvx
