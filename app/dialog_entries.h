#pragma once
// How the small dialogs show a setting in a field and read back what was typed: a value, or
// false when the text is not one, so that nothing is changed or written from it.
#include <cstdint>
#include <string>

namespace kvx {

// A typed port number n names COMn; Windows numbers its ports 1 to 255.
inline constexpr long kPortNumberMin = 1;
inline constexpr long kPortNumberMax = 255;
// A Modbus slave address; 0 is broadcast (no reply), 248 and up are reserved.
inline constexpr long kSlaveIdMin = 1;
inline constexpr long kSlaveIdMax = 247;

// What the port field shows: n for "COMn" written as we write it (no sign, no leading zero),
// any other name whole, so that a device path is seen and kept.
std::string portFieldText(const std::string& portName);

// The port name from the field. The field as portFieldText(current) showed it keeps current
// exactly; a whole number from kPortNumberMin to kPortNumberMax gives "COM<n>"; text with a
// '/' is a device path, taken without the blanks around it, and must be printable with no
// blank inside (the file holds the name as one blank-separated token). False for anything
// else, and name is left as it was.
bool portNameFromField(const std::string& field, const std::string& current, std::string& name);

// What the port field takes, for the line that refuses what was typed.
std::string portFieldAccepts();

// A speed limit as the scaling file holds it: its 16 bits as an unsigned decimal, so that the
// field shows what the file would say and reads back the same bits.
inline constexpr long kSpeedLimitMin = 0;
inline constexpr long kSpeedLimitMax = 65535;
std::string speedLimitFieldText(std::int16_t limit);
// A whole number from kSpeedLimitMin to kSpeedLimitMax; false for anything else, and limit is
// left as it was.
bool speedLimitFromField(const std::string& field, std::int16_t& limit);

}  // namespace kvx
