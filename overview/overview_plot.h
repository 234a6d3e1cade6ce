#pragma once
// The strip plot on display's Surface: one strip per chosen channel (top to bottom in the
// given order) with its name, unit and the highest and lowest value in view, a shared time
// axis in local time at the bottom, gaps left empty (shaded, no line across), a band of marks
// above the strips (alarm, shutdown, damaged record), and an optional cursor line.
//
// Use (a window that redraws on every zoom or hover):
//   OverviewGeometry g = layoutOverview(surface, width, height, view);
//   OverviewColumns c = set.reduce(view.from, view.to, g.plotWidth());
//   drawOverview(surface, g, c, view);           // also fills g.strips[i].low/high
//   ... mouse at (x, y): g.timeAt(x), g.stripAt(y), g.xOf(time)
// or in one call (a picture to save): renderOverview(surface, width, height, set, view).
#include <cstdint>
#include <string>
#include <vector>

#include "display/surface.h"
#include "overview/overview_set.h"

namespace kvx {

struct OverviewView {
    double from = 0, to = 0;  // UTC seconds shown, left edge to right edge of the plot
    std::vector<int> fields;  // the strips, top to bottom (see channel_table.h)
    bool showCursor = false;
    double cursor = 0;  // a time; drawn as a vertical line when showCursor
    std::string title;  // a line above the strips; none when empty
};

struct OverviewStrip {
    int field = 0;
    int top = 0, bottom = 0;  // the strip's plot rows [top, bottom)
    // The strip's value scale in stored units (drawOverview sets it from the data in view):
    // low at the bottom row, high at the top row.
    double low = 0, high = 1;
    int yOf(double stored) const;
    double valueAt(int y) const;  // stored units
};

struct OverviewGeometry {
    int width = 0, height = 0;        // the whole picture
    int plotLeft = 0, plotRight = 0;  // plot columns [plotLeft, plotRight)
    int plotTop = 0, plotBottom = 0;  // the strips' rows
    int bandTop = 0, bandBottom = 0;  // the marks above the strips: alarm, shutdown, damaged
    int axisTop = 0;                  // the time axis below the strips
    double from = 0, to = 0;
    std::vector<OverviewStrip> strips;

    int plotWidth() const { return plotRight - plotLeft; }
    // The time at the left edge of pixel column x, and the column of a time.
    double timeAt(int x) const;
    int xOf(double time) const;
    // The index into strips of the strip holding row y, or -1.
    int stripAt(int y) const;
};

// Places the strips in a width x height picture; text sizes come from the surface's fonts.
// Strips are never shorter than a readable minimum: a height too small for all of them keeps
// the first ones that fit.
OverviewGeometry layoutOverview(Surface& surface, int width, int height, const OverviewView& view);

// Draws the whole picture (background included) of columns (reduced for geometry's plot
// width and view's range) and sets each strip's low and high.
void drawOverview(Surface& surface, OverviewGeometry& geometry, const OverviewColumns& columns,
                  const OverviewView& view);

// layoutOverview, reduce and drawOverview in one go.
OverviewGeometry renderOverview(Surface& surface, int width, int height, const OverviewSet& set,
                                const OverviewView& view);

// The colour of the trace (and name) of the strip at index in the view: a legend or a hover
// shows a strip's values in it.
Rgb overviewTraceColour(int index);

// A moment in local time as the axis and a hover show it: "13:05" when step (the precision
// wanted, seconds) is a minute or more, "13:05:10" from a second, else "13:05:10.4".
std::string overviewTimeText(double time, double step);
// Its local date: "2026-12-08".
std::string overviewDateText(double time);

}  // namespace kvx
