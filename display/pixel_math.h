#pragma once
// Double to pixel conversions that truncate toward zero like the widgets' layout rules, but
// saturate instead of overflowing: a huge or undefined value must not become undefined
// behaviour in a paint.
#include <cmath>
#include <cstdint>
#include <limits>

namespace kvx {

// trunc(v) as an int; NaN gives 0, out-of-range values the nearest int limit.
inline int truncToInt(double v) {
    if (std::isnan(v)) return 0;
    constexpr double lo = std::numeric_limits<int>::min();
    constexpr double hi = std::numeric_limits<int>::max();
    if (v <= lo) return std::numeric_limits<int>::min();
    if (v >= hi) return std::numeric_limits<int>::max();
    return static_cast<int>(v);
}

// An int narrowed to the widgets' 16-bit coordinate fields, saturating.
inline std::int16_t saturate16(long long v) {
    if (v < std::numeric_limits<std::int16_t>::min())
        return std::numeric_limits<std::int16_t>::min();
    if (v > std::numeric_limits<std::int16_t>::max())
        return std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(v);
}

}  // namespace kvx
