#include "overview/overview_plot.h"

#include <cmath>

namespace kvx {

int OverviewStrip::yOf(double stored) const {
    if (high <= low) return (top + bottom) / 2;
    return bottom - 1 -
           static_cast<int>(std::lround((stored - low) / (high - low) * (bottom - 1 - top)));
}

double OverviewStrip::valueAt(int y) const {
    if (bottom - 1 <= top) return low;
    return low + (bottom - 1 - y) * (high - low) / (bottom - 1 - top);
}

double OverviewGeometry::timeAt(int x) const {
    if (plotWidth() <= 0) return from;
    return from + (x - plotLeft) * (to - from) / plotWidth();
}

int OverviewGeometry::xOf(double time) const {
    if (to <= from) return plotLeft;
    return plotLeft + static_cast<int>(std::floor((time - from) / (to - from) * plotWidth()));
}

int OverviewGeometry::stripAt(int y) const {
    for (std::size_t i = 0; i < strips.size(); ++i)
        if (y >= strips[i].top && y < strips[i].bottom) return static_cast<int>(i);
    return -1;
}

OverviewGeometry layoutOverview(Surface& surface, int width, int height, const OverviewView& view) {
    (void)surface;
    OverviewGeometry g;
    g.width = width;
    g.height = height;
    g.plotLeft = 0;
    g.plotRight = width;
    g.plotTop = 0;
    g.plotBottom = height;
    g.from = view.from;
    g.to = view.to;
    return g;
}

void drawOverview(Surface& surface, OverviewGeometry& geometry, const OverviewColumns& columns,
                  const OverviewView& view) {
    (void)columns;
    (void)view;
    surface.fillRect(0, 0, geometry.width, geometry.height, Rgb{255, 255, 255});
}

OverviewGeometry renderOverview(Surface& surface, int width, int height, const OverviewSet& set,
                                const OverviewView& view) {
    OverviewGeometry g = layoutOverview(surface, width, height, view);
    const OverviewColumns c = set.reduce(view.from, view.to, g.plotWidth());
    drawOverview(surface, g, c, view);
    return g;
}

std::string overviewTimeText(double time, double rangeSeconds) {
    (void)rangeSeconds;
    return std::to_string(static_cast<long long>(time));
}

}  // namespace kvx
