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

TEST(SettingEntry, TypedTextIsAValueOfTheRuleOrRefused) {
    constexpr int kNo = 100000;
    struct Case {
        EntryRule rule;
        int scale;
        const char* text;
        int raw;  // or kNo
    };
    using E = EntryRule;
    const Case cases[] = {
        {E::Scaled, 10, "12.5", 125},       {E::Scaled, 100, "0.29", 29},
        {E::Scaled, 100, "-0.29", -29},     {E::Scaled, 10, "  3.2abc", kNo},
        {E::Scaled, 1000, "+4", 4000},      {E::Scaled, 10, "1e2", kNo},
        {E::Scaled, 10, ".5", 5},           {E::Scaled, 10, "abc", kNo},
        {E::Scaled, 10, "", kNo},           {E::Scaled, 10, "-", kNo},
        {E::Scaled, 10, "6553.6", kNo},     {E::Scaled, 10, "3276.8", kNo},
        {E::Scaled, 10, "-3276.8", -32768}, {E::Scaled, 1000, "1e300", kNo},
        {E::Scaled, 10, "inf", kNo},        {E::Scaled, 10, "nan", kNo},
        {E::Integer, 0, "42", 42},          {E::Integer, 0, " 42 ", 42},
        {E::Integer, 0, "70000", kNo},      {E::Integer, 0, "65535", -1},
        {E::Integer, 0, "-5", kNo},         {E::Integer, 0, "12x", kNo},
        {E::Integer, 0, "", kNo},           {E::Integer, 0, "99999999999999999999", kNo},
        {E::IntegerTimesTen, 0, "45", 450}, {E::IntegerTimesTen, 0, "45.9", kNo},
        {E::IntegerTimesTen, 0, "6553", 65530 - 65536},
        {E::IntegerTimesTen, 0, "6554", kNo},
        {E::Toggle, 0, "1", 1},             {E::Toggle, 0, "2", kNo},
    };
    for (const Case& c : cases) {
        std::int16_t v = 7;
        EXPECT_EQ(parseEntry(c.rule, c.scale, c.text, v) ? v : kNo, c.raw)
            << "\"" << c.text << "\" rule " << static_cast<int>(c.rule);
    }
    std::int16_t kept = 77;
    EXPECT_TRUE(enterSetting(row(SettingsScreen::FlowControl, 106), "12", kept));
    EXPECT_EQ(kept, 77);  // written back as read
    std::int16_t v = 0;
    EXPECT_TRUE(enterSetting(row(SettingsScreen::FuelPressureSchedule, 51), "1.25", v));
    EXPECT_EQ(v, 125);
}

}  // namespace
}  // namespace kvx
