#include "app/overview_span.h"

#include <algorithm>
#include <cmath>

namespace kvx {

OverviewSpan fitSpan(OverviewSpan span, const OverviewLimits& limits) {
    const OverviewSpan& all = limits.all;
    if (!(span.width() > 0.0) || !std::isfinite(span.from) || !std::isfinite(span.to)) return all;
    const double narrowest = std::min(limits.narrowest, all.width());
    double w = std::clamp(span.width(), narrowest, all.width());
    // Grown to the narrowest around its middle, then pushed back inside.
    double from = span.from + (span.width() - w) / 2.0;
    from = std::clamp(from, all.from, all.to - w);
    return {from, from + w};
}

OverviewSpan zoomSpan(OverviewSpan span, double anchor, double factor,
                      const OverviewLimits& limits) {
    span = fitSpan(span, limits);
    if (!(factor > 0.0) || !std::isfinite(factor)) return span;
    const double narrowest = std::min(limits.narrowest, limits.all.width());
    const double w = std::clamp(span.width() * factor, narrowest, limits.all.width());
    const double at = std::clamp(anchor, span.from, span.to);
    const double share = (at - span.from) / span.width();
    const double from = at - share * w;
    return fitSpan({from, from + w}, limits);
}

OverviewSpan panSpan(OverviewSpan span, double fraction, const OverviewLimits& limits) {
    span = fitSpan(span, limits);
    const double by = span.width() * fraction;
    return fitSpan({span.from + by, span.to + by}, limits);
}

OverviewSpan spanBetween(OverviewSpan span, int left, int right, int x0, int x1,
                         const OverviewLimits& limits) {
    if (x1 < x0) std::swap(x0, x1);
    if (right <= left) return fitSpan(span, limits);
    const double perColumn = span.width() / (right - left);
    const double from = span.from + (std::max(x0, left) - left) * perColumn;
    const double to = span.from + (std::min(x1, right - 1) - left + 1) * perColumn;
    return fitSpan({from, std::max(to, from + perColumn)}, limits);
}

double timeAtColumn(OverviewSpan span, int left, int right, int x) {
    if (right <= left) return span.from;
    const double perColumn = span.width() / (right - left);
    return span.from + (x - left + 0.5) * perColumn;
}

int columnAtTime(OverviewSpan span, int left, int right, double time) {
    if (right <= left || !(span.width() > 0.0)) return left;
    return left + static_cast<int>(std::floor((time - span.from) / span.width() * (right - left)));
}

}  // namespace kvx
