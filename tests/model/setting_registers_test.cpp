#include "model/setting_registers.h"

#include <gtest/gtest.h>

#include "model/registers.h"

namespace kvx {
namespace {

const SettingRegister& row(SettingsScreen screen, int reference) {
    for (const SettingRegister& r : settingRegisters(screen)) {
        if (r.reference == reference) return r;
    }
    ADD_FAILURE() << "no register " << reference;
    static const SettingRegister none{};
    return none;
}

TEST(SettingRegisters, NamesMatchTheRegisterTable) {
    ASSERT_FALSE(settingRegisters().empty());
    for (const SettingRegister& r : settingRegisters()) {
        EXPECT_EQ(parameterName(r.reference), r.name) << r.reference;
    }
}

TEST(SettingRegisters, ScreensHoldTheirRowsInOrder) {
    const auto pressure = settingRegisters(SettingsScreen::FuelPressureSchedule);
    ASSERT_EQ(pressure.size(), 22u);
    EXPECT_EQ(pressure.front().reference, 41);
    EXPECT_EQ(pressure.back().reference, 62);
    EXPECT_EQ(pressure.back().shown, ShowRule::AsRead);
    EXPECT_EQ(settingRegisters(SettingsScreen::AlarmEmail).size(), 12u);
    EXPECT_EQ(settingRegisters(SettingsScreen::SubstitutionSchedule).size(), 10u);
    // The same register on two screens, with different rules.
    EXPECT_EQ(row(SettingsScreen::SubstitutionSchedule, 32).shown, ShowRule::IntegerQuotient);
    EXPECT_EQ(row(SettingsScreen::FlowControl, 32).shown, ShowRule::Scaled);
}

TEST(SettingRegisters, ShownTexts) {
    EXPECT_EQ(showSetting(row(SettingsScreen::FuelPressureSchedule, 41), 1234), "123.4");
    EXPECT_EQ(showSetting(row(SettingsScreen::FuelPressureSchedule, 51), 1234), "12.340");
    EXPECT_EQ(showSetting(row(SettingsScreen::SubstitutionSchedule, 32), 457), "45");
    EXPECT_EQ(showSetting(row(SettingsScreen::SubstitutionSchedule, 32), -457), "-45");
    EXPECT_EQ(showSetting(row(SettingsScreen::SubstitutionSchedule, 65), 15), "1.500");
    EXPECT_EQ(showSetting(row(SettingsScreen::VibrationSchedule, 97), 250), "0.250");
    EXPECT_EQ(showSetting(row(SettingsScreen::FlowControl, 105), -1), "-1");  // 65535 read
    EXPECT_EQ(showSetting(row(SettingsScreen::AlarmEmail, 130), 0), "Disabled");
    EXPECT_EQ(showSetting(row(SettingsScreen::AlarmEmail, 131), 7), "Enabled");
    EXPECT_EQ(showSetting(row(SettingsScreen::FlowControl, 106), 99), "");
}

TEST(SettingEntry, ScaledTextTruncatesTowardZero) {
    EXPECT_EQ(parseScaledEntry("12.5", 10), 125);
    EXPECT_EQ(parseScaledEntry("0.29", 100), 28);  // 28.999999... truncated
    EXPECT_EQ(parseScaledEntry("-0.29", 100), -28);
    EXPECT_EQ(parseScaledEntry("  3.2abc", 10), 32);
    EXPECT_EQ(parseScaledEntry("+4", 1000), 4000);
    EXPECT_EQ(parseScaledEntry("1e2", 10), 1000);
    EXPECT_EQ(parseScaledEntry(".5", 10), 5);
    EXPECT_EQ(parseScaledEntry("abc", 10), 0);
    EXPECT_EQ(parseScaledEntry("", 10), 0);
    EXPECT_EQ(parseScaledEntry("-", 10), 0);
    // Only the first 8 characters count.
    EXPECT_EQ(parseScaledEntry("1234567.9", 1), static_cast<std::int16_t>(1234567 % 65536));
    EXPECT_EQ(parseScaledEntry("123456789", 1), static_cast<std::int16_t>(12345678 % 65536));
    // Low 16 bits of large results, never undefined conversions.
    EXPECT_EQ(parseScaledEntry("6553.6", 10), 0);
    EXPECT_EQ(parseScaledEntry("3276.8", 10), -32768);
    EXPECT_EQ(parseScaledEntry("1e300", 1000), 0);
    EXPECT_EQ(parseScaledEntry("inf", 10), 0);
    EXPECT_EQ(parseScaledEntry("nan", 10), 0);
}

TEST(SettingEntry, IntegerTextIsUnsigned) {
    EXPECT_EQ(parseIntegerEntry("42"), 42);
    EXPECT_EQ(parseIntegerEntry(" 42 "), 42);
    EXPECT_EQ(parseIntegerEntry("70000"), 4464);
    EXPECT_EQ(parseIntegerEntry("65535"), -1);
    EXPECT_EQ(parseIntegerEntry("-5"), 0);
    EXPECT_EQ(parseIntegerEntry("12x"), 0);
    EXPECT_EQ(parseIntegerEntry(""), 0);
    EXPECT_EQ(parseIntegerEntry("99999999999999999999"), 0);

    const SettingRegister& substitutionMin = row(SettingsScreen::SubstitutionSchedule, 32);
    EXPECT_EQ(enterSetting(substitutionMin, "45", 0), 450);
    EXPECT_EQ(enterSetting(substitutionMin, "45.9", 0), 0);  // an integer field
    const SettingRegister& asRead = row(SettingsScreen::FlowControl, 106);
    EXPECT_EQ(enterSetting(asRead, "12", 77), 77);
    EXPECT_EQ(enterSetting(row(SettingsScreen::FuelPressureSchedule, 51), "1.25", 0), 125);
}

}  // namespace
}  // namespace kvx
