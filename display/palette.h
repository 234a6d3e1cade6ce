#pragma once
// The widgets' colour palette and the two-point linear mapping they scale with.
#include "display/surface.h"

namespace kvx {

// Palette index 1..15 to its colour; any other index is black.
Rgb paletteColor(int index);

// The line through (x0, y0) and (x1, y1) evaluated at x, not clamped. When x0 equals x1 the
// result is the midpoint (y0 + y1) / 2.
double mapLinear(double x0, double x1, double y0, double y1, double x);

}  // namespace kvx
