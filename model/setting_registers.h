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
    Integer,          // unsigned decimal, low 16 bits
    Scaled,           // decimal text x scale, truncated toward zero, low 16 bits
    IntegerTimesTen,  // unsigned decimal x 10, low 16 bits
    Toggle,           // 0 or 1
    AsRead,
};

struct SettingRegister {
    int reference;
    const char* name;
    SettingsScreen screen;
    const char* label;   // "" where the field has no label of its own (a table column)
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

// The field text for a raw register value (empty for AsRead).
std::string showSetting(const SettingRegister& field, std::int16_t raw);
// The raw value for typed text; AsRead returns previous unchanged.
std::int16_t enterSetting(const SettingRegister& field, std::string_view text,
                          std::int16_t previous);

// Typed text of a scaled field: at most 8 characters, leading blanks skipped, the longest
// decimal number at the start (none: 0), times scale, truncated toward zero, low 16 bits.
std::int16_t parseScaledEntry(std::string_view text, int scale);
// The same in single precision over at most 9 characters, as a field written on its own is
// read (scale 1 for the fields that take whole numbers).
std::int16_t parseSingleScaledEntry(std::string_view text, int scale);
// Typed text of an integer field: an unsigned decimal number (else 0), low 16 bits.
std::int16_t parseIntegerEntry(std::string_view text);

}  // namespace kvx
