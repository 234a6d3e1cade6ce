#include "display/number_text.h"

#include <cstdarg>
#include <cstdio>

#include "display/pixel_math.h"

namespace kvx {

std::string numberText(double value, int decimals) {
    switch (decimals) {
        case 3:
            return formatText("%.3f", value);
        case 2:
            return formatText("%.2f", value);
        case 1:
            return formatText("%.1f", value);
        default:
            return formatText("%d", truncToInt(value));
    }
}

std::string formatText(const char* format, ...) {
    char small[64];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string out;
    if (n < 0) {
        va_end(again);
        return out;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(n));
    } else {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), format, again);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(again);
    return out;
}

}  // namespace kvx
