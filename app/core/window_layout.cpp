#include "app/core/window_layout.h"

#include <algorithm>
#include <cmath>

namespace kvx {

StatusEdges statusEdgesForWidth(int w, int serialPartEdge) {
    const int serialEdge = std::max(static_cast<int>(w / 9.5), std::min(serialPartEdge, w));
    return {serialEdge, static_cast<int>(w / 4.5), static_cast<int>(w / 1.35), -1};
}

std::array<int, 4> statusPartWidths(const StatusEdges& edges, int w) {
    std::array<int, 4> widths{};
    int left = 0;
    for (int i = 0; i < 4; ++i) {
        const int right = edges[i] < 0 ? w : edges[i];
        widths[i] = right > left ? right - left : 0;
        left = right;
    }
    return widths;
}

bool runStopPosition(int x, int y, int w, int h, double factor, Point& out) {
    if (w <= 0 || h <= 0) return false;
    const double offset = (4300.0 / w) * (w / 100) * factor;
    out.x = x + w - static_cast<int>(std::trunc(offset));
    out.y = static_cast<int>(std::trunc(y + (h / 100) * 1.2));
    return true;
}

}  // namespace kvx
