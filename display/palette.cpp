#include "display/palette.h"

#include <array>

namespace kvx {

namespace {
constexpr std::array<Rgb, 16> kPalette{{
    {0, 0, 0},
    {255, 0, 0},
    {0, 130, 65},
    {0, 255, 0},
    {250, 250, 0},
    {0, 0, 255},
    {0, 255, 255},
    {128, 128, 128},
    {97, 97, 97},
    {192, 192, 192},
    {0, 0, 0},
    {255, 255, 255},
    {128, 0, 0},
    {187, 91, 198},
    {24, 148, 240},
    {255, 128, 0},
}};
}  // namespace

Rgb paletteColor(int index) {
    if (index < 1 || index >= static_cast<int>(kPalette.size())) return Rgb{};
    return kPalette[static_cast<std::size_t>(index)];
}

double mapLinear(double x0, double x1, double y0, double y1, double x) {
    if (x0 == x1) return (y0 + y1) / 2;
    const double k = (y1 - y0) / (x1 - x0);
    return k * x + (y1 - x1 * k);
}

}  // namespace kvx
