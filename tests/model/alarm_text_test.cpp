#include "model/alarm_text.h"

#include <gtest/gtest.h>

namespace kvx {
namespace {

TEST(AlarmStatus, NormalAndEmptyBodies) {
    EXPECT_EQ(formatAlarmStatus(0), "Alarm Status:  Normal operation ! ");
    // Event-only bits make no fragment: the body is empty, not "normal".
    EXPECT_EQ(formatAlarmStatus(0x1800), "Alarm Status: ");
    EXPECT_EQ(formatAlarmStatus(0x7800), "Alarm Status: ");
}

TEST(AlarmStatus, FragmentsInDisplayOrder) {
    EXPECT_EQ(formatAlarmStatus(0x0003),
              "Alarm Status:  Low supply pressure !  Press Xducer Failed ! ");
    // Bit 9 comes right after bit 0, bit 1 after bit 8, bit 15 last.
    EXPECT_EQ(formatAlarmStatus(0x0201 | 0x8000),
              "Alarm Status:  Low supply pressure !  Load below 1st point !  Low RPM !");
    EXPECT_EQ(formatAlarmStatus(0x0102),
              "Alarm Status:  High Supply Pressure !  Press Xducer Failed ! ");
    // A sign-extended word (bit 15 set reads negative) still decodes by bits.
    EXPECT_EQ(formatAlarmStatus(static_cast<std::int16_t>(0x8020)),
              "Alarm Status:  Overspeed !  Low RPM !");
}

TEST(AlarmStatus, AllFragmentsMakeTheLongestBody) {
    const std::string all = formatAlarmStatus(0xFFFF);
    const std::string prefix = "Alarm Status: ";
    ASSERT_EQ(all.compare(0, prefix.size(), prefix), 0);
    EXPECT_EQ(all.size() - prefix.size(), 257u);
    EXPECT_NE(all.find(" Low battery volatge ! "), std::string::npos);
}

TEST(EventText, LaterBitReplacesButDieselAppends) {
    EXPECT_EQ(formatEventText(0x0060), " Overspeed  Diesel below minimum ");
    EXPECT_EQ(formatEventText(0x0021), " Overspeed ");
    EXPECT_EQ(formatEventText(0x0041), " Low supply pressure  Diesel below minimum ");
    EXPECT_EQ(formatEventText(0x00C0), " High vibration ");  // bit 7 after 6 replaces
    EXPECT_EQ(formatEventText(0x0800), " Power up ");
    EXPECT_EQ(formatEventText(0x4001), " Gas ON ");
    EXPECT_EQ(formatEventText(0x0004), " High subsitution rate ");
    EXPECT_EQ(formatEventText(0x8000), "");
    EXPECT_EQ(formatEventText(0), "");
}

TEST(ModeText, KnownCodesAndUnknownOnes) {
    EXPECT_EQ(modeText(-4), "MODE: CAN Rx Error");
    EXPECT_EQ(modeText(-3), "MODE: Press Xducer failed");
    EXPECT_EQ(modeText(-2), "MODE: POST-CAT OVERTEMP");
    EXPECT_EQ(modeText(-1), "MODE: PRE-CAT OVERTEMP");
    EXPECT_EQ(modeText(0), "MODE: NOT AVAIL");
    EXPECT_EQ(modeText(1), "MODE: DEFAULT");
    EXPECT_EQ(modeText(2), "MODE: A/F CONTROL");
    EXPECT_EQ(modeText(3), "MODE: UNKNOWN (3)");
    EXPECT_EQ(modeText(-5), "MODE: UNKNOWN (-5)");
}

TEST(ShutoffAndReady, SwitchTextsAndReadyTerms) {
    LiveData live;
    LiveStatus status;
    EXPECT_EQ(shutoffSwitchText(live, status), "");
    EXPECT_EQ(alarmStatusLine(live, status), "Alarm Status:  Normal operation ! ");
    EXPECT_TRUE(isReady(live, status));

    live.local_shutoff = 1;
    EXPECT_EQ(alarmStatusLine(live, status), "Alarm Status: Local Shutoff Switch !");
    EXPECT_FALSE(isReady(live, status));
    status.extShutoffOk = 0;
    EXPECT_EQ(alarmStatusLine(live, status),
              "Alarm Status: Local Shutoff Switch ! External Shutoff Switch !");
    live.local_shutoff = 0;
    live.alarm_flags = 0x20;  // the shutoff text wins over the alarm text
    EXPECT_EQ(alarmStatusLine(live, status), "Alarm Status: External Shutoff Switch !");
    status.extShutoffOk = 1;
    EXPECT_EQ(alarmStatusLine(live, status), "Alarm Status:  Overspeed ! ");
    EXPECT_FALSE(isReady(live, status));

    live.alarm_flags = 0;
    status.pollOk = 0;
    EXPECT_FALSE(isReady(live, status));
}

}  // namespace
}  // namespace kvx
