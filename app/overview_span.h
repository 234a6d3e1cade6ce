#pragma once
// The stretch of time the log overview shows, and how zooming and panning move it: never
// outside the logs opened, never narrower than a few records, never wider than all of them.
// No Qt, so the rules are tested on their own.
#include <cstdint>

namespace kvx {

struct OverviewSpan {
    double from = 0.0;  // seconds since 1970, UTC
    double to = 0.0;
    double width() const { return to - from; }
    friend bool operator==(const OverviewSpan&, const OverviewSpan&) = default;
};

// The view's limits: everything opened, and the narrowest view (a handful of records).
struct OverviewLimits {
    OverviewSpan all;
    double narrowest = 2.0;
};

// Span moved (not resized) to lie inside the limits, and cut down to them when wider.
OverviewSpan fitSpan(OverviewSpan span, const OverviewLimits& limits);

// factor < 1 zooms in, > 1 out; the moment at anchor stays where it was on the screen (as far
// as the limits allow).
OverviewSpan zoomSpan(OverviewSpan span, double anchor, double factor,
                      const OverviewLimits& limits);

// Moves the view by fraction of its width (negative: earlier).
OverviewSpan panSpan(OverviewSpan span, double fraction, const OverviewLimits& limits);

// The moments at the two pixel columns x0 and x1 of a plot whose time axis runs from column
// left to column right (exclusive), in either order: a range dragged with the mouse.
OverviewSpan spanBetween(OverviewSpan span, int left, int right, int x0, int x1,
                         const OverviewLimits& limits);

// The moment at pixel column x (the column's middle), and the column of a moment.
double timeAtColumn(OverviewSpan span, int left, int right, int x);
int columnAtTime(OverviewSpan span, int left, int right, double time);

}  // namespace kvx
