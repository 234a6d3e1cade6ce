#include "log/log_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

namespace kvx {
namespace {

TEST(LogHeader, IsTheTextAZeroByteAndZeroPaddingToFortyBytes) {
    const LogHeader header = makeLogHeader(113);
    const char text[] = "KVX, Firmware ver: 1.13";
    ASSERT_EQ(header.size(), 40u);
    EXPECT_EQ(0, std::memcmp(header.data(), text, sizeof text - 1));
    for (std::size_t i = sizeof text - 1; i < header.size(); ++i)
        EXPECT_EQ(header[i], 0) << "byte " << i;
}

TEST(LogHeader, VersionIsWrittenInHundredthsWithTwoDecimals) {
    EXPECT_EQ(logHeaderText(7), "KVX, Firmware ver: 0.07");
    EXPECT_EQ(logHeaderText(106), "KVX, Firmware ver: 1.06");
    EXPECT_EQ(logHeaderText(1000), "KVX, Firmware ver: 10.00");
    EXPECT_EQ(logHeaderText(-5), "KVX, Firmware ver: -0.05");
    // The largest and smallest register values still leave room for the zero byte.
    EXPECT_EQ(logHeaderText(32767), "KVX, Firmware ver: 327.67");
    EXPECT_EQ(makeLogHeader(-32768)[39], 0);
}

TEST(LogHeader, KeepsTheDecimalPointUnderACommaLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const bool haveComma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr ||
                           std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") != nullptr;
    const std::string text = logHeaderText(113);
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!haveComma) GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_EQ(text, "KVX, Firmware ver: 1.13");
}

TEST(LogRecordBytes, TimeThenTwentyFieldsLittleEndianSignExtended) {
    LogRecord record;
    record.time = 0x538097D0;  // 2014-05-24 13:00:00 UTC
    for (int i = 0; i < kLogValueCount; ++i)
        record.values[i] = 0x0100 * (i + 1) + i;
    record.values[4] = -1;          // vibration as the window starts
    record.values[15] = 1500;       // engine_speed
    record.values[19] = -32768;     // vibration_max, most negative register
    record.values[8] = 0x12345678;  // not a register value, but all four bytes must be kept

    std::uint8_t bytes[kLogRecordSize];
    std::memset(bytes, 0xAA, sizeof bytes);
    encodeLogRecord(record, bytes);

    const std::uint8_t time[] = {0xD0, 0x97, 0x80, 0x53};
    EXPECT_EQ(0, std::memcmp(bytes, time, 4));
    const std::uint8_t exhaust[] = {0x00, 0x01, 0x00, 0x00};  // field 0 at offset 4
    EXPECT_EQ(0, std::memcmp(bytes + 4, exhaust, 4));
    const std::uint8_t vibration[] = {0xFF, 0xFF, 0xFF, 0xFF};  // field 4 at offset 20
    EXPECT_EQ(0, std::memcmp(bytes + 20, vibration, 4));
    const std::uint8_t alarms[] = {0x78, 0x56, 0x34, 0x12};  // field 8 at offset 36
    EXPECT_EQ(0, std::memcmp(bytes + 36, alarms, 4));
    const std::uint8_t speed[] = {0xDC, 0x05, 0x00, 0x00};  // field 15 at offset 64
    EXPECT_EQ(0, std::memcmp(bytes + 64, speed, 4));
    const std::uint8_t vibrationMax[] = {0x00, 0x80, 0xFF, 0xFF};  // field 19 at offset 80
    EXPECT_EQ(0, std::memcmp(bytes + 80, vibrationMax, 4));
    const std::uint8_t ecu[] = {0x12, 0x13, 0x00, 0x00};  // field 18 at offset 76
    EXPECT_EQ(0, std::memcmp(bytes + 76, ecu, 4));

    EXPECT_EQ(decodeLogRecord(bytes), record);
}

TEST(LogRecordBytes, NegativeTimesAndExtremesComeBackUnchanged) {
    LogRecord record;
    record.time = -1;
    for (int i = 0; i < kLogValueCount; ++i)
        record.values[i] = (i % 2 ? INT32_MIN : INT32_MAX) / (i + 1);
    std::uint8_t bytes[kLogRecordSize];
    encodeLogRecord(record, bytes);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[3], 0xFF);
    EXPECT_EQ(decodeLogRecord(bytes), record);
}

TEST(LogRecordLiveData, HoldsFieldsZeroToNineteenInLogOrder) {
    LiveData live;
    live.exhaust_temp = 812;
    live.vibration = -1;
    live.engine_speed = 1500;
    live.vibration_max = 250;
    live.pressure_sp_right = 4321;  // field 20, not logged

    const LogRecord record = LogRecord::fromLiveData(1400936400, live);
    EXPECT_EQ(record.time, 1400936400);
    EXPECT_EQ(record.values[0], 812);
    EXPECT_EQ(record.values[4], -1);
    EXPECT_EQ(record.values[15], 1500);
    EXPECT_EQ(record.values[19], 250);

    LiveData played;
    played.pressure_sp_right = 77;
    played.aux_d = 5;
    record.toLiveData(played);
    EXPECT_EQ(played.exhaust_temp, 812);
    EXPECT_EQ(played.vibration, -1);
    EXPECT_EQ(played.engine_speed, 1500);
    EXPECT_EQ(played.vibration_max, 250);
    EXPECT_EQ(played.pressure_sp_right, 77);  // fields 20..24 keep their values
    EXPECT_EQ(played.aux_d, 5);
}

bool headerIn(const std::string& bytes, std::string* title = nullptr) {
    return findLogHeader(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), title);
}

TEST(LogHeaderCheck, LooksForTheSignatureInTheTextBeforeTheFirstZeroByte) {
    std::string title;
    EXPECT_TRUE(headerIn(std::string("KVX, Firmware ver: 1.13\0\0\0", 26), &title));
    EXPECT_EQ(title, "KVX, Firmware ver: 1.13");
    EXPECT_TRUE(headerIn(std::string("older KVX text\0", 15), &title));
    EXPECT_EQ(title, "older KVX text");
    // After the zero byte the signature no longer counts.
    EXPECT_FALSE(headerIn(std::string("log\0KVX", 7)));
    EXPECT_FALSE(headerIn(std::string("KV\0X", 4)));
    // Only the first 40 bytes are looked at, and they need not contain a zero byte.
    EXPECT_TRUE(headerIn(std::string(37, 'a') + "KVX" + "more", &title));
    EXPECT_EQ(title.size(), 40u);
    EXPECT_FALSE(headerIn(std::string(38, 'a') + "KVX"));
    // A short file may hold the signature.
    EXPECT_TRUE(headerIn("KVX"));
    EXPECT_FALSE(headerIn(""));
}

}  // namespace
}  // namespace kvx
