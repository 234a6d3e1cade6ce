#include "link/crc16.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kvx {
namespace {

TEST(Crc16, KnownVectors) {
    const char* text = "123456789";
    EXPECT_EQ(crc16(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)), 0x4B37);

    std::uint8_t request[8] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    appendCrc16(request, 6);
    EXPECT_EQ(request[6], 0xC5);
    EXPECT_EQ(request[7], 0xCD);
    EXPECT_TRUE(crc16Matches(request, 8));

    // The empty message leaves the initial value.
    EXPECT_EQ(crc16(nullptr, 0), 0xFFFF);
}

TEST(Crc16, MatchRejectsAnySingleBitError) {
    std::uint8_t frame[8] = {0x01, 0x06, 0x00, 0x00, 0x12, 0x34};
    appendCrc16(frame, 6);
    for (int byte = 0; byte < 8; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            frame[byte] ^= static_cast<std::uint8_t>(1U << bit);
            EXPECT_FALSE(crc16Matches(frame, 8)) << byte << ":" << bit;
            frame[byte] ^= static_cast<std::uint8_t>(1U << bit);
        }
    }
    EXPECT_TRUE(crc16Matches(frame, 8));
    EXPECT_FALSE(crc16Matches(frame, 1));
}

}  // namespace
}  // namespace kvx
