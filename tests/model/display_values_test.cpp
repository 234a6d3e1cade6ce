#include "model/display_values.h"

#include <gtest/gtest.h>

namespace kvx {
namespace {

LiveData sample() {
    LiveData live;
    live.engine_speed = 1800;
    live.engine_hp = 2345;
    live.substitution_rate = 456;
    live.engine_load = 1500;
    live.diesel_flow = 123;
    live.gas_flow = 250;
    live.vibration = 150;
    live.vibration_max = 320;
    live.exhaust_temp = 812;
    live.pressure_sp = 1234;
    live.pressure_sp_left = 500;
    live.pressure_fdbk_left = 480;
    live.actuator_left = 1200;
    live.mode_left = 2;
    live.pressure_sp_right = -300;
    live.pressure_fdbk_right = -310;
    live.actuator_right = 2200;
    live.mode_right = -1;
    return live;
}

TEST(DisplayValues, ScalesAndBankSelection) {
    const DisplayValues left = computeDisplayValues(sample(), 1);
    EXPECT_DOUBLE_EQ(left.engineSpeed, 1800);
    EXPECT_DOUBLE_EQ(left.engineHp, 234.5);
    EXPECT_DOUBLE_EQ(left.substitutionRate, 45.6);
    EXPECT_DOUBLE_EQ(left.engineLoad, 150.0);
    EXPECT_DOUBLE_EQ(left.dieselFlow, 12.3);
    EXPECT_DOUBLE_EQ(left.gasFlow, 25.0);
    EXPECT_DOUBLE_EQ(left.vibration, 0.15);
    EXPECT_DOUBLE_EQ(left.vibrationMax, 0.32);
    EXPECT_DOUBLE_EQ(left.exhaustTemp, 812);
    EXPECT_DOUBLE_EQ(left.pressureSp, 5.0);
    EXPECT_DOUBLE_EQ(left.pressureFdbk, 4.8);
    EXPECT_DOUBLE_EQ(left.actuator, 1200);

    // Any bank other than 1 is the right bank; pressures are not clamped.
    for (int bank : {2, 0, 7}) {
        const DisplayValues right = computeDisplayValues(sample(), bank);
        EXPECT_DOUBLE_EQ(right.pressureSp, -3.0);
        EXPECT_DOUBLE_EQ(right.pressureFdbk, -3.1);
        EXPECT_DOUBLE_EQ(right.actuator, 2200);
    }
}

TEST(DisplayValues, ClampedAndUnclampedNegatives) {
    LiveData live;
    live.substitution_rate = -5;
    live.engine_hp = -5;
    live.engine_load = -1;
    live.diesel_flow = -1;
    live.gas_flow = -1;
    live.vibration = -1;
    live.vibration_max = -2;
    const DisplayValues v = computeDisplayValues(live, 1);
    EXPECT_DOUBLE_EQ(v.substitutionRate, 0.0);
    EXPECT_DOUBLE_EQ(v.engineHp, -0.5);
    EXPECT_DOUBLE_EQ(v.engineLoad, 0.0);
    EXPECT_DOUBLE_EQ(v.dieselFlow, 0.0);
    EXPECT_DOUBLE_EQ(v.gasFlow, 0.0);
    EXPECT_DOUBLE_EQ(v.vibration, 0.0);
    EXPECT_DOUBLE_EQ(v.vibrationMax, -0.002);
}

TEST(DisplayValues, TrendChannelsCarryTheirValues) {
    const DisplayValues v = computeDisplayValues(sample(), 2);
    const double expected[kTrendChannels] = {12.3, 150.0, -3.1, 2200, 0.15,
                                             -3.0, 812,   0.0,  1800, 0.32};
    for (int i = 0; i < kTrendChannels; ++i)
        EXPECT_DOUBLE_EQ(v.trend[i], expected[i]) << i;
}

TEST(TextLines, FormatsAndBank) {
    InputImage image;
    image.a[20 - 1] = 17;
    image.b106[63 - 51] = 1250;
    image.b106[64 - 51] = -75;
    image.b106[65 - 51] = 5;
    LiveData live = sample();

    TextLines t = computeTextLines(live, image, 1);
    EXPECT_EQ(t.pressureSp, "PRESSURE SP : 12.34");
    EXPECT_EQ(t.bank, "LEFT BANK");
    EXPECT_EQ(t.mode, "MODE: A/F CONTROL");
    EXPECT_EQ(t.ecu, "");
    EXPECT_EQ(t.ecuError, "ECU FLOW RX ERR: 17");
    EXPECT_EQ(t.startSp, "START SP : 12.50");
    EXPECT_EQ(t.startSp1, "START SP1 : -0.75");
    EXPECT_EQ(t.startSp2, "START SP2 : 0.05");

    live.ecu_rx_lost = 1;
    t = computeTextLines(live, image, 2);
    EXPECT_EQ(t.bank, "RIGHT BANK");
    EXPECT_EQ(t.mode, "MODE: PRE-CAT OVERTEMP");
    EXPECT_EQ(t.ecu, "ECU RX: NOT AVAIL");
}

TEST(GasText, OnlyWhenNothingHoldsTheGasOff) {
    LiveData live;
    LiveStatus status;
    status.pollOk = 0;  // not a term of the gas text
    EXPECT_EQ(gasText(live, status), "GAS is ON");
    live.alarm_flags = 0x0800;  // any bit, even an event-only one
    EXPECT_EQ(gasText(live, status), "GAS is OFF");
    live.alarm_flags = 0;
    live.local_shutoff = -1;
    EXPECT_EQ(gasText(live, status), "GAS is OFF");
    live.local_shutoff = 0;
    status.extShutoffOk = 0;
    EXPECT_EQ(gasText(live, status), "GAS is OFF");
}

TEST(ChannelNames, CarryTheirLimits) {
    EXPECT_EQ(speedChannelName(1950), "ENGINE SPEED /1950/");
    EXPECT_EQ(exhaustChannelName(-1), "EXHAUST TEMP /-1/");
}

}  // namespace
}  // namespace kvx
