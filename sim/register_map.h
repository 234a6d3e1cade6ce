#pragma once
// Which registers a simulated controller holds for each firmware version, and the settings it
// leaves the factory with.
#include <array>
#include <cstdint>
#include <span>

namespace kvx::sim {

inline constexpr int kHoldingCount = 177;
inline constexpr int kEventFirstRef = 201;
inline constexpr int kEventCount = 40;
inline constexpr int kDefaultFirmware = 117;

// The firmware versions (x 100) the simulator can stand in for.
std::span<const int> supportedFirmware();
bool isSupportedFirmware(int firmware);

// Highest holding reference the firmware's map holds (the map always starts at 1).
int holdingTop(int firmware);
// Highest live input reference; the event history 201..240 is held by every version.
int inputTop(int firmware);

// True when every reference of [firstRef, firstRef + count) is in the map.
bool holdingInMap(int firmware, int firstRef, int count);
bool inputInMap(int firmware, int firstRef, int count);

// Factory settings, indexed by reference - 1. Identity registers (version, serial number,
// slave address) are filled in by the controller from its configuration.
std::array<std::int16_t, kHoldingCount> defaultHoldingRegisters();

}  // namespace kvx::sim
