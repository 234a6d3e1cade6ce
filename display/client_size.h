#pragma once
// The size of the panel's client area in pixels.

namespace kvx {

struct ClientSize {
    int width = 0;
    int height = 0;
};

// A window's size as the widgets take it: each side clamped into 0..65535, the range the
// drawing's 16-bit coordinates were laid out for.
constexpr ClientSize clampedClientSize(int width, int height) {
    const auto clamp16 = [](int v) { return v < 0 ? 0 : v > 0xFFFF ? 0xFFFF : v; };
    return {clamp16(width), clamp16(height)};
}

}  // namespace kvx
