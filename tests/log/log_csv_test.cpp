#include "log/log_csv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "log_test_support.h"

namespace kvx {
namespace {

std::string scaled(std::int32_t value, int places) {
    std::string text;
    appendScaled(value, places, text);
    return text;
}

TEST(CsvValues, FixedDecimalsWithTheSignKeptBelowOne) {
    EXPECT_EQ(scaled(0, 1), "0.0");
    EXPECT_EQ(scaled(-5, 1), "-0.5");
    EXPECT_EQ(scaled(1234, 1), "123.4");
    EXPECT_EQ(scaled(-1, 3), "-0.001");
    EXPECT_EQ(scaled(1005, 2), "10.05");
    EXPECT_EQ(scaled(100, 2), "1.00");
    EXPECT_EQ(scaled(-32768, 3), "-32.768");
    EXPECT_EQ(scaled(-32768, 0), "-32768");
    EXPECT_EQ(scaled(INT32_MIN, 2), "-21474836.48");
}

TEST(CsvValues, EngineeringValuesConvertBackToTheStoredIntegers) {
    for (int places = 0; places <= 3; ++places) {
        const double factor = std::pow(10.0, places);
        for (std::int32_t v = -32768; v <= 32767; v += 7) {
            const std::string text = scaled(v, places);
            EXPECT_EQ(std::lround(std::strtod(text.c_str(), nullptr) * factor), v) << text;
        }
    }
}

TEST(CsvRows, HeaderNamesTheTimeAndTheTwentyLoggedFields) {
    EXPECT_EQ(csvHeaderRow(),
              "time,exhaust_temp,aux_a,engine_load,aux_b,vibration,engine_hp,local_shutoff,aux_c,"
              "alarm_flags,pressure_sp,gas_flow,substitution_rate,pressure_sp_left,"
              "pressure_fdbk_left,actuator_left,engine_speed,diesel_flow,mode_left,ecu_rx_lost,"
              "vibration_max\n");
}

TEST(CsvRows, ValuesInEngineeringUnitsOrAsStored) {
    test::useCentralEuropeanTime();
    LogRecord record;
    record.time = static_cast<std::int32_t>(test::utc(2014, 5, 24, 11, 0, 5));
    record.values = {812, 3,   1503, 4,    -1, 2205, 1,   5, -32768, 1050,
                     309, 725, 1000, -250, 64, 1500, 125, 2, 0,      250};
    std::string row;
    appendCsvRow(record, false, row);
    EXPECT_EQ(row,
              "2014-05-24T13:00:05+02:00,812,3,150.3,4,-0.001,220.5,1,5,-32768,10.50,30.9,72.5,"
              "10.00,-2.50,64,1500,12.5,2,0,0.250\n");
    row.clear();
    appendCsvRow(record, true, row);
    EXPECT_EQ(row,
              "2014-05-24T13:00:05+02:00,812,3,1503,4,-1,2205,1,5,-32768,1050,309,725,1000,-250,"
              "64,1500,125,2,0,250\n");
}

TEST(CsvTime, LocalTimeWithItsOffsetFromUtc) {
    test::useCentralEuropeanTime();
    EXPECT_EQ(formatLocalIsoTime(test::utc(2014, 1, 10, 8, 30, 0)), "2014-01-10T09:30:00+01:00");
    EXPECT_EQ(formatLocalIsoTime(test::utc(2014, 7, 10, 8, 30, 0)), "2014-07-10T10:30:00+02:00");
    // The hour that repeats in autumn stays apart by its offset.
    EXPECT_EQ(formatLocalIsoTime(test::utc(2014, 10, 26, 0, 30, 0)), "2014-10-26T02:30:00+02:00");
    EXPECT_EQ(formatLocalIsoTime(test::utc(2014, 10, 26, 1, 30, 0)), "2014-10-26T02:30:00+01:00");
    test::useTimeZone("NST3:30NDT,M3.2.0,M11.1.0");
    EXPECT_EQ(formatLocalIsoTime(test::utc(2014, 1, 10, 12, 0, 0)), "2014-01-10T08:30:00-03:30");
    test::useTimeZone("UTC0");
    EXPECT_EQ(formatLocalIsoTime(0), "1970-01-01T00:00:00+00:00");
    test::useCentralEuropeanTime();
}

TEST(LogRecordPlausibility, TimesFrom1980AndSixteenBitValues) {
    LogRecord record;
    record.time = kEarliestLogTime;
    record.values.fill(-32768);
    record.values[3] = 32767;
    std::string why;
    EXPECT_TRUE(isPlausibleLogRecord(record, &why));

    record.values[7] = 32768;
    EXPECT_FALSE(isPlausibleLogRecord(record, &why));
    EXPECT_EQ(why, "aux_c is 32768, not a 16-bit register value");
    record.values[7] = -32769;
    EXPECT_FALSE(isPlausibleLogRecord(record, nullptr));
    record.values[7] = 0;

    record.time = kEarliestLogTime - 1;
    EXPECT_FALSE(isPlausibleLogRecord(record, &why));
    EXPECT_NE(why.find("before 1980"), std::string::npos);
    record.time = INT32_MAX;
    EXPECT_TRUE(isPlausibleLogRecord(record, nullptr));
}

}  // namespace
}  // namespace kvx
