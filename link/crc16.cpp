#include "link/crc16.h"

#include <array>

namespace kvx {
namespace {

// The two tables split one table of reflected CRC steps: crcTableHi holds the byte that is
// XORed into the running low byte, crcTableLo the byte that becomes the new high byte.
struct CrcTables {
    std::array<std::uint8_t, 256> hi{};
    std::array<std::uint8_t, 256> lo{};
};

constexpr CrcTables makeTables() {
    CrcTables t;
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1;
        t.hi[i] = static_cast<std::uint8_t>(crc & 0xFFU);
        t.lo[i] = static_cast<std::uint8_t>(crc >> 8);
    }
    return t;
}

constexpr CrcTables kTables = makeTables();
static_assert(kTables.hi[1] == 0xC1 && kTables.lo[1] == 0xC0 && kTables.hi[255] == 0x40 &&
              kTables.lo[255] == 0x40);

}  // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t length) {
    std::uint8_t crcHi = 0xFF;
    std::uint8_t crcLo = 0xFF;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t index = crcLo ^ data[i];
        crcLo = crcHi ^ kTables.hi[index];
        crcHi = kTables.lo[index];
    }
    return static_cast<std::uint16_t>((crcHi << 8) | crcLo);
}

void appendCrc16(std::uint8_t* data, std::size_t length) {
    const std::uint16_t crc = crc16(data, length);
    data[length] = static_cast<std::uint8_t>(crc & 0xFFU);
    data[length + 1] = static_cast<std::uint8_t>(crc >> 8);
}

bool crc16Matches(const std::uint8_t* frame, std::size_t length) {
    if (length < 2) return false;
    const std::uint16_t crc = crc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFFU) && frame[length - 1] == (crc >> 8);
}

}  // namespace kvx
