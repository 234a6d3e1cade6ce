#pragma once
// The holding registers the settings screens edit: which screen, the field's label and unit,
// how the raw value is shown and how typed text becomes the raw value again.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kvx {

enum class SettingsScreen {
    FuelPressureSchedule,
    SubstitutionSchedule,
    ExhaustTemperature,
    VibrationSensor,
    VibrationSchedule,
    FlowControl,
    AlarmEmail,
};

enum class ShowRule {
    Integer,          // the signed value with the field's "%d" / "%i"
    Scaled,           // value x factor as a double with the field's format
    IntegerQuotient,  // value / 10 with the remainder dropped, "%d"
    Toggle,           // "Disabled" for 0, "Enabled" otherwise
    AsRead,           // no field: written back unchanged
};

enum class EntryRule {
    Integer,          // a whole number 0..65535
    Scaled,           // decimal text x scale, cut toward zero; fits a signed register
    IntegerTimesTen,  // a whole number 0..6553, stored x 10
    Toggle,           // 0 or 1
    AsRead,
};

struct SettingRegister {
    int reference;
    const char* name;
    SettingsScreen screen;
    const char* label;   // as the screen shows it; "" where the field has none of its own
    const char* column;  // the table column for schedule rows, else ""
    const char* unit;
    ShowRule shown;
    double showFactor;   // Scaled only
    const char* format;  // printf format of the shown value
    EntryRule entered;
    int entryScale;  // Scaled only: 10, 100 or 1000
};

// Every edited register, grouped by screen in field order (a register may appear on two
// screens with different rules).
std::span<const SettingRegister> settingRegisters();
// The rows of one screen, in order.
std::span<const SettingRegister> settingRegisters(SettingsScreen screen);
// The row of a register on a screen; null when the screen does not edit it.
const SettingRegister* findSettingRegister(SettingsScreen screen, int reference);

// The unit shown with the register's value: the load's "kW or HP" as the schedule screens
// head it, HP for indicator type 2, else kW.
std::string_view settingUnit(const SettingRegister& field, int indicatorType);

// The field text for a raw register value (empty for AsRead).
std::string showSetting(const SettingRegister& field, std::int16_t raw);
// The raw value for typed text by the field's rule: false, with out untouched, when the text
// is not a value of the field's kind or does not fit its register. AsRead gives out unchanged.
bool enterSetting(const SettingRegister& field, std::string_view text, std::int16_t& out);

// The same by rule: Integer takes a whole number 0..65535, IntegerTimesTen 0..6553, Scaled a
// decimal whose scaled value fits a signed register (digits past the scale cut), Toggle 0 or 1.
bool parseEntry(EntryRule rule, int entryScale, std::string_view text, std::int16_t& out);
// What a field of the rule accepts, for the refusal of other text.
std::string entryAccepts(EntryRule rule, int entryScale);

}  // namespace kvx
