#include "settings/screen_table.h"

#include "resources/resource_ids.h"
#include "settings/settings_texts.h"

namespace kvx {
namespace {

namespace t = settings_text;

// A schedule's two columns of points: the first column's registers from firstReference, the
// second's right after them; edit ids up by one from firstId, by secondIdStep from secondId.
void addSchedule(ScreenTable& s, int points, int firstReference, int firstId, int secondId,
                 int secondIdStep) {
    for (int i = 0; i < points; ++i)
        s.fields.push_back(screenField(s.screen, firstId + i, firstReference + i, 0));
    for (int i = 0; i < points; ++i) {
        s.fields.push_back(
            screenField(s.screen, secondId + secondIdStep * i, firstReference + points + i, 1));
    }
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
    addSchedule(s, 10, 41, 1083, 1054, 2);
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
    addSchedule(s, 4, 61, 1083, 1093, 1);
    s.fields.push_back(screenField(s.screen, 1097, 33));
    s.fields.push_back(screenField(s.screen, 1098, 32));
    return s;
}

constexpr const char* kRateRange = "Range :  1 - 65536";

// The three fields of a sensor screen, each with its range beside it.
std::vector<ScreenField> sensorFields(SettingsScreen screen, int first, const char* maximumRange) {
    return {screenField(screen, 1099, first, 0, kRateRange),
            screenField(screen, 1100, first + 1, 0, maximumRange),
            screenField(screen, 1101, first + 2, 0, kRateRange)};
}

ScreenTable buildExhaust() {
    return {SettingsScreen::ExhaustTemperature,
            res::kTemperatureDialog,
            "Exhaust Temperature Settings",
            {{76, 4}},
            {{76, 4}},
            sensorFields(SettingsScreen::ExhaustTemperature, 76, "Range :  0 - 1250 F"),
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
            sensorFields(SettingsScreen::VibrationSensor, 80, "Range :  0 - 1.0 in/s"),
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
    addSchedule(s, 4, 93, 1083, 1102, 1);
    return s;
}

}  // namespace

ScreenField screenField(SettingsScreen screen, int editId, int reference, int column,
                        const char* beside) {
    const SettingRegister* r = findSettingRegister(screen, reference);
    const char* unit = beside ? beside : !r || *r->column ? "" : r->unit;
    return {r ? r->label : "", column, editId, reference, unit, r};
}

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
    return field.setting ? showSetting(*field.setting, raw) : std::string();
}

bool enterField(const ScreenField& field, std::string_view text, std::int16_t& out) {
    // A field without a row has no rule that could make its text a value.
    return field.setting && enterSetting(*field.setting, text, out);
}

std::string fieldAccepts(const ScreenField& field) {
    return field.setting ? entryAccepts(field.setting->entered, field.setting->entryScale)
                         : std::string("nothing");
}

}  // namespace kvx
