#include "settings/screen_table.h"

#include <cstdio>
#include <tuple>

#include "resources/resource_ids.h"
#include "settings/settings_texts.h"

namespace kvx {
namespace {

using Sh = ShowRule;
using En = EntryRule;
namespace t = settings_text;

constexpr const char* kPoint[] = {"Point 1", "Point 2", "Point 3", "Point 4", "Point 5",
                                  "Point 6", "Point 7", "Point 8", "Point 9", "Point 10"};

ScreenField scaled(const char* label, int column, int id, int ref, double factor,
                   const char* format, int scale, const char* unit = "") {
    return {label, column, id, ref, Sh::Scaled, factor, format, En::Scaled, scale, unit};
}

ScreenField integer(const char* label, int id, int ref, const char* unit) {
    return {label, 0, id, ref, Sh::Integer, 0, "%i", En::Integer, 0, unit};
}

constexpr ColumnHeadings kLoadColumn{{kLoadHeadingId, kLoadHeading}, {kLoadUnitId, kLoadUnit}};

ScreenTable buildPressure() {
    ScreenTable s{SettingsScreen::FuelPressureSchedule,
                  res::kPressureScheduleDialog,
                  "Fuel Pressure Schedule Settings",
                  {{41, 22}},
                  {{41, 22}},
                  {},
                  {kLoadColumn, {{0, "Pessure Set point"}, {0, "( in.W.C. )"}}},
                  {true, t::kPressureIndicatorFailed},
                  "Change",
                  t::kReadSystemFailed,
                  t::kCommTimeout};
    for (int i = 0; i < 10; ++i)
        s.fields.push_back(scaled(kPoint[i], 0, 1083 + i, 41 + i, 0.1, "%.1f", 10));
    for (int i = 0; i < 10; ++i)
        s.fields.push_back(scaled(kPoint[i], 1, 1054 + 2 * i, 51 + i, 0.01, "%.3f", 100));
    return s;
}

ScreenTable buildSubstitution() {
    ScreenTable s{SettingsScreen::SubstitutionSchedule,
                  res::kSubstitutionDialog,
                  "Diesel Flow Schedule / Substitution Settings",
                  {{61, 8}, {32, 2}},
                  {{32, 2}, {61, 8}},
                  {},
                  {kLoadColumn, {{0, "Diesel Flow Set point"}, {0, "( LPH )"}}},
                  {true, t::kIndicatorFailed},
                  "Change",
                  t::kReadSystemFailed,
                  t::kCommTimeout};
    for (int i = 0; i < 4; ++i)
        s.fields.push_back(scaled(kPoint[i], 0, 1083 + i, 61 + i, 0.1, "%.1f", 10));
    for (int i = 0; i < 4; ++i)
        s.fields.push_back(scaled(kPoint[i], 1, 1093 + i, 65 + i, 0.1, "%.3f", 10));
    for (auto [label, id, ref] : {std::tuple{"Substitution Maximum", 1097, 33},
                                  std::tuple{"Substitution Minimum", 1098, 32}}) {
        s.fields.push_back(
            {label, 0, id, ref, Sh::IntegerQuotient, 0, "%d", En::IntegerTimesTen, 0, "%"});
    }
    return s;
}

constexpr const char* kRateRange = "Range :  1 - 65536";

ScreenTable buildExhaust() {
    return {SettingsScreen::ExhaustTemperature,
            res::kTemperatureDialog,
            "Exhaust Temperature Settings",
            {{76, 4}},
            {{76, 4}},
            {integer("Average Rate", 1099, 76, kRateRange),
             integer("Temperature Maximum", 1100, 77, "Range :  0 - 1250 F"),
             integer("Shutdown Delay Timer", 1101, 78, kRateRange)},
            {},
            {},
            "Change",
            t::kReadValveFailed,
            t::kSaveFailed};
}

ScreenTable buildVibration() {
    return {SettingsScreen::VibrationSensor,
            res::kVibrationDialog,
            "Vibration Sensor Settings",
            {{80, 4}},
            {{80, 4}},
            {integer("Average Rate", 1099, 80, kRateRange),
             integer("Maximum Limit", 1100, 81, "Range :  0 - 1.0 in/s"),
             integer("Shutdown Delay Timer", 1101, 82, kRateRange)},
            {},
            {},
            "OK",
            t::kReadValveFailed,
            t::kSaveFailed};
}

ScreenTable buildVibrationSchedule() {
    ScreenTable s{SettingsScreen::VibrationSchedule,
                  res::kVibrationMaxDialog,
                  "Vibration Maximum Schedule",
                  {{93, 8}},
                  {{93, 8}},
                  {},
                  {kLoadColumn, {{0, "Viibration Set point"}, {0, "( in/s )"}}},
                  {},
                  "Change",
                  t::kReadSystemFailed,
                  t::kCommTimeout};
    for (int i = 0; i < 4; ++i)
        s.fields.push_back(scaled(kPoint[i], 0, 1083 + i, 93 + i, 0.1, "%.1f", 10));
    for (int i = 0; i < 4; ++i)
        s.fields.push_back(scaled(kPoint[i], 1, 1102 + i, 97 + i, 0.001, "%.3f", 1000));
    return s;
}

SettingRegister asRegister(const ScreenField& f) {
    return {f.reference, "",           SettingsScreen::FlowControl,
            f.label,     "",           f.unit,
            f.shown,     f.showFactor, f.format,
            f.entered,   f.entryScale};
}

}  // namespace

const ScreenTable& pressureScheduleScreen() {
    static const ScreenTable s = buildPressure();
    return s;
}
const ScreenTable& substitutionScheduleScreen() {
    static const ScreenTable s = buildSubstitution();
    return s;
}
const ScreenTable& exhaustTemperatureScreen() {
    static const ScreenTable s = buildExhaust();
    return s;
}
const ScreenTable& vibrationSensorScreen() {
    static const ScreenTable s = buildVibration();
    return s;
}
const ScreenTable& vibrationScheduleScreen() {
    static const ScreenTable s = buildVibrationSchedule();
    return s;
}

std::span<const ScreenTable* const> registerScreens() {
    static const ScreenTable* const all[] = {
        &pressureScheduleScreen(), &substitutionScheduleScreen(), &exhaustTemperatureScreen(),
        &vibrationSensorScreen(), &vibrationScheduleScreen()};
    return all;
}

std::string showField(const ScreenField& field, std::int16_t raw) {
    return showSetting(asRegister(field), raw);
}

bool enterField(const ScreenField& field, std::string_view text, std::int16_t& out) {
    return enterSetting(asRegister(field), text, out);
}

std::string fieldAccepts(const ScreenField& field) {
    return entryAccepts(field.entered, field.entryScale);
}

}  // namespace kvx
