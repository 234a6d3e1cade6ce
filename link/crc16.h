#pragma once
// CRC-16 of the Modbus serial line (reflected polynomial 0xA001, initial 0xFFFF, no final XOR),
// computed with the usual pair of 256-entry tables, one table step per byte.
#include <cstddef>
#include <cstdint>

namespace kvx {

// The value's low-order byte is the one sent first on the line.
std::uint16_t crc16(const std::uint8_t* data, std::size_t length);

// Appends the CRC of data[0..length) at data[length], data[length + 1] (low byte first).
void appendCrc16(std::uint8_t* data, std::size_t length);

// True when the last two bytes of frame[0..length) are the CRC of the bytes before them.
bool crc16Matches(const std::uint8_t* frame, std::size_t length);

}  // namespace kvx
