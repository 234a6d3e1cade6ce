#pragma once
// A settings screen described as data: which registers it edits in which controls and table
// columns, the blocks it reads and writes, its headings and messages. What a register is
// called, its unit and how it is shown and typed come from the settings register table; the
// register screens are these tables and nothing else; the dialog and the logic are generic.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/setting_registers.h"
#include "settings/register_block.h"

namespace kvx {

struct ScreenField {
    const char* label;  // the register's label; fields of one table row share it
    int column;         // 0 or 1: the table column (0 for single fields)
    int editId;
    int reference;
    const char* unit;  // text beside the field: the register's unit, "" for none, or the
                       // screen's own where it shows more (a range, what codes mean)
    const SettingRegister* setting;  // the register's row: how it is shown and typed
};

// A field of a screen from the register's row in the settings register table. Its unit
// stands beside it unless beside is given; a table row's unit is in its column heading.
ScreenField screenField(SettingsScreen screen, int editId, int reference, int column = 0,
                        const char* beside = nullptr);

// A static text the dialog shows above a column (id 0: a text without an id of its own).
struct Heading {
    int id;
    const char* text;
};

struct ColumnHeadings {
    Heading title;
    Heading unit;
};

// The load column's headings by the indicator type read on opening.
struct IndicatorHeadings {
    bool read = false;             // the screen reads indicator_type on opening
    const char* readFailure = "";  // status text when that read fails
};

struct ScreenTable {
    SettingsScreen screen;
    int dialogId;
    const char* title;
    std::vector<BlockRange> readOrder;    // read by the opening command
    std::vector<BlockRange> writeOrder;   // written by Change
    std::vector<ScreenField> fields;      // in the order they are filled
    std::vector<ColumnHeadings> columns;  // empty: a form without table headings
    IndicatorHeadings indicator;
    const char* changeCaption;  // the default button (id 1)
    const char* readFailure;    // the opening command's box
    const char* saveFailure;    // status text when the save command fails
};

// The five register screens.
const ScreenTable& pressureScheduleScreen();
const ScreenTable& substitutionScheduleScreen();
const ScreenTable& exhaustTemperatureScreen();
const ScreenTable& vibrationSensorScreen();
const ScreenTable& vibrationScheduleScreen();
std::span<const ScreenTable* const> registerScreens();

// The field text for a raw register value by the field's rule (empty for a field without a
// register row).
std::string showField(const ScreenField& field, std::int16_t raw);
// The raw value typed text gives by the field's rule; false when the text is not a value of
// the field's kind or does not fit its register (out is then untouched), and for a field
// without a register row.
bool enterField(const ScreenField& field, std::string_view text, std::int16_t& out);
// What the field accepts, for the line that refuses other text.
std::string fieldAccepts(const ScreenField& field);

// Headings of the load column.
inline constexpr int kLoadHeadingId = 1107;
inline constexpr int kLoadUnitId = 1108;
inline constexpr const char* kLoadHeading = "Load Set point";
inline constexpr const char* kLoadUnit = "( kW )";
inline constexpr const char* kHpHeading = "HP Set point";
inline constexpr const char* kHpUnit = "( HP )";

// Controls every register screen shares.
inline constexpr int kStatusLineId = 1034;
inline constexpr int kChangeButtonId = 1;
inline constexpr int kCloseButtonId = 2;
inline constexpr int kSaveButtonId = 3;
inline constexpr int kUpdateAllButtonId = 4;
inline constexpr int kCloseResult = 2;

}  // namespace kvx
