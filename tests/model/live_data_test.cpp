#include "model/live_data.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kvx {
namespace {

// An image whose register r holds a value derived from r, so every mapping is checked.
InputImage numberedImage() {
    InputImage image;
    for (int r = 1; r <= 44; ++r)
        image.a[r - 1] = static_cast<std::int16_t>(1000 + r);
    for (int r = 51; r <= 54; ++r)
        image.b105[r - 51] = static_cast<std::int16_t>(5000 + r);
    for (int r = 51; r <= 86; ++r)
        image.b106[r - 51] = static_cast<std::int16_t>(6000 + r);
    return image;
}

TEST(DecodeLiveData, EveryFieldFromItsRegister) {
    const InputImage image = numberedImage();
    LiveData live;
    LiveStatus status;
    decodeLiveData(image, 1, true, true, live, status);
    const int expected[LiveData::kFieldCount] = {
        1009, 1011, 1012, 1013, 1014, 6052, 1016, 1017, 1018, 1023, 6068, 1025, 1028,
        1029, 1032, 1035, 1037, 1034, 1040, 1042, 6055, 6056, 6059, 6061, 6062};
    for (int i = 0; i < LiveData::kFieldCount; ++i) {
        EXPECT_EQ(live.field(i), expected[i]) << kLiveDataFieldNames[i];
    }
    EXPECT_EQ(status.extShutoffOk, 6066);
    EXPECT_EQ(status.pollOk, 1);
}

TEST(DecodeLiveData, SignExtendsEveryRegister) {
    InputImage image;
    image.a[9 - 1] = static_cast<std::int16_t>(0xFFFF);
    image.a[35 - 1] = static_cast<std::int16_t>(0x8000);
    image.b106[56 - 51] = static_cast<std::int16_t>(0xFFFE);
    LiveData live;
    LiveStatus status;
    decodeLiveData(image, 1, true, true, live, status);
    EXPECT_EQ(live.exhaust_temp, -1);
    EXPECT_EQ(live.engine_speed, -32768);
    EXPECT_EQ(live.pressure_fdbk_right, -2);
}

TEST(DecodeLiveData, IndicatorTypeChoosesTheLoadSource) {
    const InputImage image = numberedImage();
    for (int type : {1, 3}) {
        LiveData live;
        LiveStatus status;
        decodeLiveData(image, type, true, false, live, status);
        EXPECT_EQ(live.aux_a, 1011) << type;
        EXPECT_EQ(live.engine_load, 1012) << type;
    }
    for (int type : {0, 2, 4, -1}) {
        LiveData live;
        LiveStatus status;
        decodeLiveData(image, type, true, false, live, status);
        EXPECT_EQ(live.aux_a, 5051) << type;
        EXPECT_EQ(live.engine_load, 5052) << type;
    }
}

TEST(DecodeLiveData, FailedBlockAKeepsShutoffAndAlarm) {
    InputImage image = numberedImage();
    LiveData live;
    LiveStatus status;
    decodeLiveData(image, 1, true, true, live, status);
    ASSERT_EQ(live.alarm_flags, 1018);

    image.a.fill(0);  // what a failed read leaves
    decodeLiveData(image, 1, false, true, live, status);
    EXPECT_EQ(live.local_shutoff, 1016);
    EXPECT_EQ(live.alarm_flags, 1018);
    EXPECT_EQ(live.engine_speed, 0);
    EXPECT_EQ(live.exhaust_temp, 0);
    EXPECT_EQ(status.pollOk, 0);

    decodeLiveData(image, 1, true, true, live, status);
    EXPECT_EQ(live.alarm_flags, 0);
    EXPECT_EQ(status.pollOk, 1);
}

TEST(DecodeLiveData, ExternalShutoffOnlyFromAGoodB106Read) {
    InputImage image;
    LiveData live;
    LiveStatus status;
    decodeLiveData(image, 1, true, false, live, status);  // firmware below 1.06
    EXPECT_EQ(status.extShutoffOk, 1);
    decodeLiveData(image, 1, true, true, live, status);
    EXPECT_EQ(status.extShutoffOk, 0);
    image.b106[66 - 51] = 1;
    decodeLiveData(image, 1, true, false, live, status);  // failed read: kept
    EXPECT_EQ(status.extShutoffOk, 0);
}

TEST(LiveData, StartValuesAndFieldAccess) {
    LiveData live;
    for (int i = 0; i < LiveData::kFieldCount; ++i) {
        EXPECT_EQ(live.field(i), i == 4 ? -1 : 0) << kLiveDataFieldNames[i];
    }
    live.setField(19, 77);
    EXPECT_EQ(live.vibration_max, 77);
    live.setField(25, 5);  // out of range: ignored
    live.setField(-1, 5);
    EXPECT_EQ(live.field(25), 0);
    EXPECT_STREQ(kLiveDataFieldNames[0], "exhaust_temp");
    EXPECT_STREQ(kLiveDataFieldNames[19], "vibration_max");
    EXPECT_STREQ(kLiveDataFieldNames[24], "aux_d");
}

TEST(FirmwareBlocks, Thresholds) {
    EXPECT_FALSE(readsBlockB105(104));
    EXPECT_TRUE(readsBlockB105(105));
    EXPECT_FALSE(readsBlockB105(106));
    EXPECT_FALSE(readsBlockB106(105));
    EXPECT_TRUE(readsBlockB106(106));
    EXPECT_TRUE(readsBlockB106(112));
    EXPECT_FALSE(readsBlockB113(112));
    EXPECT_TRUE(readsBlockB113(113));
    EXPECT_TRUE(readsBlockB113(117));
}

TEST(DeviceIdentity, FromRegisters) {
    const std::int16_t regs[4] = {7, 117, -12, 3};
    const DeviceIdentity id = DeviceIdentity::fromRegisters(regs);
    EXPECT_EQ(id.product_type, 7);
    EXPECT_EQ(id.version, 117);
    EXPECT_EQ(id.serial_number, -12);
    EXPECT_EQ(id.modbus_address, 3);
}

class Ranges : public ::testing::Test {
  protected:
    std::int16_t first[DisplayRanges::kFirstCount] = {};
    std::int16_t second[DisplayRanges::kSecondCount] = {};
    void set1(int ref, std::int16_t v) { first[ref - 23] = v; }
    void set2(int ref, std::int16_t v) { second[ref - 76] = v; }
};

TEST_F(Ranges, DefaultsBeforeConnecting) {
    const DisplayRanges r;
    EXPECT_EQ(r.loadMax, 400.0);
    EXPECT_EQ(r.hpMax, 500.0);
    EXPECT_EQ(r.vibrationMax, 1000.0);
    EXPECT_EQ(r.pressureMin, -138.0);
    EXPECT_EQ(r.pressureMax, 138.0);
    EXPECT_EQ(r.dieselFlowMax, 100.0);
    EXPECT_EQ(r.speedMax, 3000.0);
}

TEST_F(Ranges, ScaledFromTheTwoReads) {
    set1(23, 50);    // load_min 5.0
    set1(24, 3500);  // load_max 350.0
    set1(25, -100);  // vibrat_min -0.1
    set1(26, 2000);  // vibrat_max 2.0
    set1(27, -800);  // pressure_min -8.00
    set1(28, 2400);  // pressure_max 24.00
    set1(30, 6000);  // hp max 600.0 on 1.07+
    set1(31, 1500);  // fuel_flow_max 150.0
    set2(77, 950);
    set2(90, 1);
    set2(92, 1950);
    DisplayRanges previous;
    previous.speedMin = 500;
    previous.speedMax = 2500;
    previous.dieselFlowMin = 3;

    const DisplayRanges r = computeDisplayRanges(first, second, 117, previous);
    EXPECT_DOUBLE_EQ(r.loadMin, 5.0);
    EXPECT_DOUBLE_EQ(r.loadMax, 350.0);
    EXPECT_DOUBLE_EQ(r.hpMin, 5.0);
    EXPECT_DOUBLE_EQ(r.hpMax, 600.0);
    EXPECT_DOUBLE_EQ(r.vibrationMin, -0.1);
    EXPECT_DOUBLE_EQ(r.vibrationMax, 2.0);
    EXPECT_DOUBLE_EQ(r.pressureMin, -8.0);
    EXPECT_DOUBLE_EQ(r.pressureMax, 24.0);
    EXPECT_DOUBLE_EQ(r.dieselFlowMin, 0.0);
    EXPECT_DOUBLE_EQ(r.dieselFlowMax, 150.0);
    EXPECT_EQ(r.speedMin, 500);
    EXPECT_EQ(r.speedMax, 2500);
    EXPECT_EQ(r.indicator_type, 1);
    EXPECT_EQ(r.exhaust_temp_avg_shutdown_max, 950);
    EXPECT_EQ(r.overspeed, 1950);

    // Horsepower indicator: fixed 400 load maximum; firmware before 1.07: fixed 500 hp.
    set2(90, 2);
    const DisplayRanges hp = computeDisplayRanges(first, second, 106, previous);
    EXPECT_DOUBLE_EQ(hp.loadMax, 400.0);
    EXPECT_DOUBLE_EQ(hp.hpMax, 500.0);
    set2(90, 3);
    EXPECT_DOUBLE_EQ(computeDisplayRanges(first, second, 107, previous).loadMax, 350.0);
}

TEST_F(Ranges, FailedReadsGiveRangesFromZeros) {
    const DisplayRanges r = computeDisplayRanges(first, second, 0, DisplayRanges{});
    EXPECT_EQ(r.indicator_type, 0);
    EXPECT_DOUBLE_EQ(r.loadMin, 0.0);
    EXPECT_DOUBLE_EQ(r.loadMax, 400.0);  // type 0 is not a kW indicator
    EXPECT_DOUBLE_EQ(r.hpMax, 500.0);
    EXPECT_DOUBLE_EQ(r.pressureMin, 0.0);
    EXPECT_DOUBLE_EQ(r.pressureMax, 0.0);
    EXPECT_DOUBLE_EQ(r.dieselFlowMax, 0.0);
    EXPECT_DOUBLE_EQ(r.speedMax, 3000.0);
}

}  // namespace
}  // namespace kvx
