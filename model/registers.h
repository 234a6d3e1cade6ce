#pragma once
// The controller's register numbering: 1-based references, wire address = reference - 1.
#include <cstdint>
#include <string_view>

namespace kvx {

inline constexpr int kParameterCount = 177;

// Holding-register names indexed by reference - 1, ended by one empty string.
extern const char* const parameterNames[kParameterCount + 1];

constexpr std::uint16_t wireAddress(int reference) {
    return static_cast<std::uint16_t>(reference - 1);
}
constexpr int referenceOf(std::uint16_t wire) {
    return static_cast<int>(wire) + 1;
}

// The name of a holding-register reference, empty outside 1..177.
std::string_view parameterName(int reference);
// The reference with exactly this name, 0 when no register has it.
int findParameter(std::string_view name);

// How many names the calibration editor shows for a firmware version x 100.
int calibrationNameCount(int firmwareVersion);

// Registers the program reads or writes by name.
namespace ref {
inline constexpr int product_type = 1;
inline constexpr int version = 2;
inline constexpr int serial_number = 3;
inline constexpr int modbus_address = 4;
inline constexpr int save_data_command = 7;
inline constexpr int f_emerg_stop = 34;
inline constexpr int acknowledge_alarm = 69;
inline constexpr int exhaust_temp_avg_shutdown_max = 77;
inline constexpr int indicator_type = 90;
inline constexpr int overspeed = 92;
inline constexpr int eventHistory = 201;  // input registers 201..240
}  // namespace ref

// Written to save_data_command to save the settings, and to acknowledge_alarm to reset it.
inline constexpr std::int16_t kCommandWord = 0x1234;

}  // namespace kvx
