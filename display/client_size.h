#pragma once
// The client size as the window's size notification packs it: width in the low 16 bits,
// height in the high 16 bits, both unsigned.
#include <cstdint>

namespace kvx {

// Sizes outside 0..65535 are clamped so a packed size never wraps into another.
constexpr std::uint32_t packClientSize(int width, int height) {
    const auto clamp16 = [](int v) -> std::uint32_t {
        return v < 0 ? 0u : v > 0xFFFF ? 0xFFFFu : static_cast<std::uint32_t>(v);
    };
    return clamp16(width) | (clamp16(height) << 16);
}
constexpr int clientWidth(std::uint32_t packed) {
    return static_cast<int>(packed & 0xFFFFu);
}
constexpr int clientHeight(std::uint32_t packed) {
    return static_cast<int>(packed >> 16);
}

}  // namespace kvx
