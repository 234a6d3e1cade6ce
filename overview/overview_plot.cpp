#include "overview/overview_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "log/log_clock.h"
#include "overview/channel_table.h"

namespace kvx {

namespace {

constexpr Rgb kBackground{255, 255, 255};
constexpr Rgb kFrame{150, 150, 150};
constexpr Rgb kGrid{222, 222, 222};
constexpr Rgb kGapFill{236, 236, 236};
constexpr Rgb kText{0, 0, 0};
constexpr Rgb kMutedText{90, 90, 90};
constexpr Rgb kAlarm{230, 140, 0};
constexpr Rgb kShutdown{190, 0, 0};
constexpr Rgb kDamaged{200, 0, 200};
constexpr Rgb kCursor{0, 90, 255};
// Dark enough to read on white, far enough apart to tell neighbouring strips apart.
constexpr Rgb kTraceColours[] = {
    {0, 70, 160},  {170, 40, 0}, {0, 120, 40}, {120, 0, 140}, {150, 100, 0},
    {0, 120, 130}, {80, 80, 80}, {200, 0, 90}, {60, 40, 180}, {100, 120, 0},
};
constexpr int kBandRows = 3;
constexpr const char* kBandNames[kBandRows] = {"alarm", "shutdown", "damaged"};
constexpr std::uint8_t kBandFlags[kBandRows] = {kColumnAlarm, kColumnShutdown, kColumnDamaged};
constexpr Rgb kBandColours[kBandRows] = {kAlarm, kShutdown, kDamaged};
constexpr int kMinStripHeight = 24;  // data rows; below that a trace says little
constexpr int kStripSpacing = 6;
// Characters of the widest value label: "-3276.8", "-32.768", "-32768" and a little room.
constexpr int kValueLabelChars = 8;

struct Fonts {
    TextMetrics normal, small;
};

Fonts measure(Surface& s) {
    Fonts f;
    s.selectFont(FontChoice::Default);
    f.normal = s.textMetrics();
    s.selectFont(FontChoice::Small);
    f.small = s.textMetrics();
    // A surface without fonts (a test's) still gets a sane layout.
    f.normal.height = std::max(f.normal.height, 8);
    f.small.height = std::max(f.small.height, 8);
    f.normal.averageWidth = std::max(f.normal.averageWidth, 4);
    f.small.averageWidth = std::max(f.small.averageWidth, 4);
    return f;
}

// Text widths from the average character width, with room for wide digits and capitals.
int textWidthOf(std::size_t chars, const TextMetrics& m) {
    return static_cast<int>(chars) * m.averageWidth * 6 / 5 + 2;
}

std::string labelOf(int field) {
    const OverviewChannel& c = overviewChannel(field);
    std::string text(c.name);
    if (!c.unit.empty()) {
        text += " (";
        text += c.unit;
        text += ')';
    }
    return text;
}

// The tick steps of the time axis, seconds.
constexpr double kTickSteps[] = {0.1,  0.2,   0.5,   1,     2,     5,      10,    15,
                                 30,   60,    120,   300,   600,   900,    1800,  3600,
                                 7200, 10800, 21600, 43200, 86400, 172800, 604800};

long utcOffsetAt(double time) {
    LocalDateTime l;
    return localDateTime(static_cast<std::int64_t>(std::floor(time)), l) ? l.utcOffset : 0;
}

}  // namespace

int OverviewStrip::yOf(double stored) const {
    const int rows = bottom - 1 - top;
    if (high <= low || rows <= 0) return (top + bottom) / 2;
    const double y = (bottom - 1) - (stored - low) / (high - low) * rows;
    return static_cast<int>(
        std::lround(std::clamp(y, static_cast<double>(top), static_cast<double>(bottom - 1))));
}

double OverviewStrip::valueAt(int y) const {
    if (bottom - 1 <= top) return low;
    return low + (bottom - 1 - y) * (high - low) / (bottom - 1 - top);
}

// Far less than the spacing of any two records, far more than a double's rounding of a
// calendar time (a few tenths of a microsecond): see OverviewColumns::columnOf.
constexpr double kTimeHair = 1e-6;

double OverviewGeometry::timeAt(int x) const {
    if (plotWidth() <= 0) return from;
    return from + (x - plotLeft) * ((to - from) / plotWidth());
}

int OverviewGeometry::xOf(double time) const {
    if (to <= from || plotWidth() <= 0) return plotLeft;
    // The column as the reduction counts it (OverviewColumns::columnOf), so a time maps to the
    // column whose values hold it, and a column's own start time maps back to it.
    OverviewColumns columns;
    columns.from = from;
    columns.to = to;
    columns.width = plotWidth();
    const double q = std::floor((time - from + kTimeHair) / columns.step());
    return plotLeft + static_cast<int>(std::clamp(q, -1.0e6, 1.0e6));
}

int OverviewGeometry::stripAt(int y) const {
    for (std::size_t i = 0; i < strips.size(); ++i)
        if (y >= strips[i].top && y < strips[i].bottom) return static_cast<int>(i);
    return -1;
}

Rgb overviewTraceColour(int index) {
    return kTraceColours[static_cast<std::size_t>(std::max(index, 0)) % std::size(kTraceColours)];
}

std::string overviewTimeText(double time, double step) {
    const double whole = std::floor(time);
    LocalDateTime l;
    if (!localDateTime(static_cast<std::int64_t>(whole), l)) return "?";
    char text[32];
    if (step >= 60) {
        std::snprintf(text, sizeof text, "%02d:%02d", l.hour, l.minute);
    } else if (step >= 1) {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", l.hour, l.minute, l.second);
    } else {
        const int tenths = std::min(9, static_cast<int>((time - whole) * 10 + 1e-6));
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%d", l.hour, l.minute, l.second, tenths);
    }
    return text;
}

std::string overviewDateText(double time) {
    LocalDateTime l;
    if (!localDateTime(static_cast<std::int64_t>(std::floor(time)), l)) return "?";
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", l.year, l.month, l.day);
    return text;
}

OverviewGeometry layoutOverview(Surface& surface, int width, int height, const OverviewView& view) {
    const Fonts f = measure(surface);
    OverviewGeometry g;
    g.width = std::max(width, 0);
    g.height = std::max(height, 0);
    g.from = view.from;
    g.to = view.to;
    g.plotLeft = std::min(g.width, textWidthOf(kValueLabelChars, f.small) + 8);
    g.plotRight = std::max(g.plotLeft, g.width - 14);
    int y = 4;
    if (!view.title.empty()) y += f.normal.height + 6;
    g.bandTop = y;
    g.bandBottom = y + kBandRows * (f.small.height + 1);
    y = g.bandBottom + kStripSpacing;
    g.plotTop = y;
    const int axisHeight = 2 * f.small.height + 10;
    const int bottom = g.height - axisHeight;
    const int labelRow = f.normal.height + 2;
    const int perStrip = labelRow + kMinStripHeight + kStripSpacing;
    const int room = std::max(0, bottom - y);
    const std::size_t fit = std::min(view.fields.size(), static_cast<std::size_t>(room / perStrip));
    if (fit > 0) {
        const int each = room / static_cast<int>(fit);
        for (std::size_t i = 0; i < fit; ++i) {
            OverviewStrip s;
            s.field = view.fields[i];
            s.top = y + labelRow;
            s.bottom = y + each - kStripSpacing;
            g.strips.push_back(s);
            y += each;
        }
    }
    g.plotBottom = g.strips.empty() ? g.plotTop : g.strips.back().bottom;
    g.axisTop = g.plotBottom + 1;
    return g;
}

namespace {

void drawText(Surface& s, int x, int y, std::string_view text, HAlign h, Rgb colour) {
    s.setTextColour(colour);
    s.setTextAlign({h, VAlign::Top});
    s.text(x, y, text);
}

void scaleStrip(OverviewStrip& strip, const OverviewColumns& c, bool& any, double& dataLow,
                double& dataHigh) {
    any = false;
    dataLow = dataHigh = 0;
    auto take = [&](double v) {
        dataLow = any ? std::min(dataLow, v) : v;
        dataHigh = any ? std::max(dataHigh, v) : v;
        any = true;
    };
    for (int x = 0; x < c.width; ++x) {
        if (!c.hasData(x)) continue;
        take(c.low(x, strip.field));
        take(c.high(x, strip.field));
    }
    if (!any) {
        strip.low = 0;
        strip.high = 1;
        return;
    }
    // Room above and below the data, so a trace at its extreme is not drawn on the frame; a
    // flat trace gets one engineering unit either side.
    const double unit = 1.0 / overviewChannel(strip.field).scale;
    const double span = dataHigh - dataLow;
    const double pad = span > 0 ? span * 0.06 : unit;
    strip.low = dataLow - pad;
    strip.high = dataHigh + pad;
}

struct Tick {
    double time;
    int x;
};

// Ticks on round local times, the finest step whose labels do not touch. The offset is that of
// the range's start: a change of the clocks within the range shifts later ticks by the change,
// which their labels show.
std::vector<Tick> timeTicks(const OverviewGeometry& g, const Fonts& f, double& step) {
    std::vector<Tick> ticks;
    const double range = g.to - g.from;
    step = kTickSteps[std::size(kTickSteps) - 1];
    if (range <= 0 || g.plotWidth() <= 0) return ticks;
    const int labelWidth = textWidthOf(10, f.small) + 12;
    for (const double candidate : kTickSteps) {
        if (range / candidate * labelWidth <= g.plotWidth()) {
            step = candidate;
            break;
        }
    }
    const double offset = static_cast<double>(utcOffsetAt(g.from));
    const double first = std::ceil((g.from + offset) / step - 1e-9) * step - offset;
    for (int k = 0;; ++k) {
        const double t = first + k * step;
        if (t >= g.to) break;
        const int x = g.xOf(t + 1e-9);
        if (x >= g.plotLeft && x < g.plotRight) ticks.push_back({t, x});
    }
    return ticks;
}

void drawTimeGrid(Surface& s, const OverviewGeometry& g, const std::vector<Tick>& ticks) {
    s.setPen(Pen{kGrid, 1, PenStyle::Solid});
    for (const Tick& t : ticks)
        for (const OverviewStrip& strip : g.strips) {
            s.moveTo(t.x, strip.top);
            s.lineTo(t.x, strip.bottom);
        }
}

void drawTimeAxis(Surface& s, const OverviewGeometry& g, const Fonts& f,
                  const std::vector<Tick>& ticks, double step) {
    if (g.plotWidth() <= 0) return;
    s.setPen(Pen{kFrame, 1, PenStyle::Solid});
    s.moveTo(g.plotLeft, g.axisTop);
    s.lineTo(g.plotRight, g.axisTop);
    s.selectFont(FontChoice::Small);
    s.setTransparentBackground(true);
    std::string lastDate;
    int lastRight = -1000000;
    for (const Tick& tick : ticks) {
        const int x = tick.x;
        s.setPen(Pen{kFrame, 1, PenStyle::Solid});
        s.moveTo(x, g.axisTop);
        s.lineTo(x, g.axisTop + 4);
        const std::string text = overviewTimeText(tick.time, step);
        const int half = textWidthOf(text.size(), f.small) / 2;
        const int cx = std::clamp(x, half + 1, g.width - half - 1);
        if (cx - half <= lastRight) continue;
        drawText(s, cx, g.axisTop + 5, text, HAlign::Centre, kText);
        lastRight = cx + half;
        // The date under the first label and wherever the day changes.
        const std::string date = overviewDateText(tick.time);
        if (date != lastDate) {
            const int dHalf = textWidthOf(date.size(), f.small) / 2;
            drawText(s, std::clamp(x, dHalf + 1, g.width - dHalf - 1),
                     g.axisTop + 6 + f.small.height, date, HAlign::Centre, kMutedText);
            lastDate = date;
        }
    }
}

// Runs of columns with the given flags filled across rows [top, bottom).
void fillRuns(Surface& s, const OverviewGeometry& g, const OverviewColumns& c, int top, int bottom,
              Rgb colour, bool (*wanted)(std::uint8_t)) {
    for (int x = 0; x < c.width;) {
        if (!wanted(c.flags[x])) {
            ++x;
            continue;
        }
        int end = x + 1;
        while (end < c.width && wanted(c.flags[end]))
            ++end;
        s.fillRect(g.plotLeft + x, top, g.plotLeft + end, bottom, colour);
        x = end;
    }
}

void drawTrace(Surface& s, const OverviewGeometry& g, const OverviewColumns& c,
               const OverviewStrip& strip, Rgb colour) {
    const int f = strip.field;
    int prevX = -1, prevTop = 0, prevBottom = 0;
    double prevMid = 0;
    auto lineClipped = [&](double x0, double y0, double x1, double y1) {
        // Clipped to the plot's columns; the rows are already inside the strip.
        const double left = g.plotLeft, right = g.plotRight - 1;
        if (x1 < left || x0 > right || x1 <= x0) return;
        if (x0 < left) {
            y0 += (y1 - y0) * (left - x0) / (x1 - x0);
            x0 = left;
        }
        if (x1 > right) {
            y1 -= (y1 - y0) * (x1 - right) / (x1 - x0);
            x1 = right;
        }
        s.moveTo(static_cast<int>(std::lround(x0)), static_cast<int>(std::lround(y0)));
        s.lineTo(static_cast<int>(std::lround(x1)), static_cast<int>(std::lround(y1)));
    };
    s.setPen(Pen{colour, 1, PenStyle::Solid});
    const double step = c.step();
    auto xOfTime = [&](double t) { return g.plotLeft + (t - c.from) / step; };
    for (int x = 0; x < c.width; ++x) {
        if (!c.hasData(x)) continue;
        int top = strip.yOf(c.high(x, f));
        int bottom = strip.yOf(c.low(x, f));
        const double mid = (top + bottom) / 2.0;
        const bool joined = !(c.flags[x] & kColumnBreakBefore);
        if (joined && prevX >= 0 && prevX == x - 1) {
            // Neighbours: each bar reaches the other's nearest end, so the trace is unbroken.
            if (bottom < prevTop) bottom = prevTop;
            if (top > prevBottom) top = prevBottom;
        } else if (joined && prevX >= 0) {
            lineClipped(g.plotLeft + prevX, prevMid, g.plotLeft + x, mid);
        } else if (joined && prevX < 0 && c.hasBefore) {
            lineClipped(xOfTime(c.beforeTime), strip.yOf(c.before[f]), g.plotLeft + x, mid);
        }
        s.fillRect(g.plotLeft + x, top, g.plotLeft + x + 1, bottom + 1, colour);
        prevX = x;
        prevTop = top;
        prevBottom = bottom;
        prevMid = mid;
    }
    // Zoomed in far enough that records stand apart: each is marked with a dot, so single
    // records can be told from the lines between them.
    std::uint64_t records = 0;
    for (int x = 0; x < c.width; ++x)
        records += c.records[x];
    if (records > 0 && records * 6 <= static_cast<std::uint64_t>(c.width)) {
        for (int x = 0; x < c.width; ++x) {
            if (c.records[x] != 1) continue;
            const int y = strip.yOf(c.high(x, f));
            s.fillRect(g.plotLeft + std::max(x - 1, 0), std::max(y - 1, strip.top),
                       g.plotLeft + std::min(x + 2, c.width), std::min(y + 2, strip.bottom),
                       colour);
        }
    }
    if (c.hasAfter) {
        // The line leaves the view towards the next record, unless a gap lies between.
        bool open = prevX >= 0;
        for (int x = prevX + 1; x < c.width && open; ++x)
            open = !(c.flags[x] & kColumnGap);
        if (open)
            lineClipped(g.plotLeft + prevX, prevMid, xOfTime(c.afterTime), strip.yOf(c.after[f]));
        if (prevX < 0 && c.hasBefore)
            lineClipped(xOfTime(c.beforeTime), strip.yOf(c.before[f]), xOfTime(c.afterTime),
                        strip.yOf(c.after[f]));
    }
}

}  // namespace

void drawOverview(Surface& surface, OverviewGeometry& g, const OverviewColumns& c,
                  const OverviewView& view) {
    Surface& s = surface;
    const Fonts f = measure(s);
    s.fillRect(0, 0, g.width, g.height, kBackground);
    s.setTransparentBackground(true);
    s.setBrush(kNoBrush);
    if (!view.title.empty()) {
        s.selectFont(FontChoice::Default);
        drawText(s, g.plotLeft, 4, view.title, HAlign::Left, kText);
    }
    const bool columnsFit = c.width == g.plotWidth();
    const int bottomOfAll = g.strips.empty() ? g.bandBottom : g.plotBottom;

    // Gaps: no records there, shaded from the band down to the last strip.
    if (columnsFit)
        fillRuns(s, g, c, g.bandTop, bottomOfAll, kGapFill,
                 [](std::uint8_t fl) { return (fl & kColumnGap) && !(fl & kColumnData); });

    // The band of marks.
    s.selectFont(FontChoice::Small);
    const int rowHeight = (g.bandBottom - g.bandTop) / kBandRows;
    for (int r = 0; r < kBandRows; ++r) {
        const int top = g.bandTop + r * rowHeight;
        drawText(s, g.plotLeft - 4, top, kBandNames[r], HAlign::Right, kMutedText);
        if (!columnsFit) continue;
        switch (r) {
            case 0:
                fillRuns(s, g, c, top + 1, top + rowHeight, kBandColours[r],
                         [](std::uint8_t fl) { return (fl & kBandFlags[0]) != 0; });
                break;
            case 1:
                fillRuns(s, g, c, top + 1, top + rowHeight, kBandColours[r],
                         [](std::uint8_t fl) { return (fl & kBandFlags[1]) != 0; });
                break;
            default:
                fillRuns(s, g, c, top + 1, top + rowHeight, kBandColours[r],
                         [](std::uint8_t fl) { return (fl & kBandFlags[2]) != 0; });
                break;
        }
    }
    s.setPen(Pen{kFrame, 1, PenStyle::Solid});
    s.rectangle(g.plotLeft - 1, g.bandTop, g.plotRight + 1, g.bandBottom + 1);

    double tickStep = 1;
    const std::vector<Tick> ticks = timeTicks(g, f, tickStep);
    drawTimeGrid(s, g, ticks);

    for (std::size_t i = 0; i < g.strips.size(); ++i) {
        OverviewStrip& strip = g.strips[i];
        const Rgb colour = overviewTraceColour(static_cast<int>(i));
        bool any = false;
        double dataLow = 0, dataHigh = 0;
        if (columnsFit) scaleStrip(strip, c, any, dataLow, dataHigh);
        if (any && c.hasBefore) dataLow = std::min<double>(dataLow, c.before[strip.field]);
        s.selectFont(FontChoice::Default);
        drawText(s, g.plotLeft, strip.top - f.normal.height - 1, labelOf(strip.field), HAlign::Left,
                 colour);
        s.setPen(Pen{kFrame, 1, PenStyle::Solid});
        s.rectangle(g.plotLeft - 1, strip.top - 1, g.plotRight + 1, strip.bottom + 1);
        s.selectFont(FontChoice::Small);
        if (!any) {
            drawText(s, (g.plotLeft + g.plotRight) / 2,
                     (strip.top + strip.bottom - f.small.height) / 2, "no data", HAlign::Centre,
                     kMutedText);
            continue;
        }
        // The highest and lowest value in view, on dotted lines at their rows.
        const int yHigh = strip.yOf(dataHigh), yLow = strip.yOf(dataLow);
        s.setPen(Pen{kGrid, 1, PenStyle::Dot});
        s.moveTo(g.plotLeft, yHigh);
        s.lineTo(g.plotRight, yHigh);
        s.moveTo(g.plotLeft, yLow);
        s.lineTo(g.plotRight, yLow);
        const int h = f.small.height;
        const std::string highText =
            formatChannelValue(strip.field, static_cast<std::int32_t>(std::lround(dataHigh)));
        const std::string lowText =
            formatChannelValue(strip.field, static_cast<std::int32_t>(std::lround(dataLow)));
        const int highY = std::clamp(yHigh - h / 2, strip.top - 1, strip.bottom - h);
        drawText(s, g.plotLeft - 4, highY, highText, HAlign::Right, kText);
        if (yLow - yHigh >= h) {
            const int lowY =
                std::clamp(yLow - h / 2, highY + h, std::max(highY + h, strip.bottom - h + 2));
            drawText(s, g.plotLeft - 4, lowY, lowText, HAlign::Right, kText);
        }
        drawTrace(s, g, c, strip, colour);
    }

    drawTimeAxis(s, g, f, ticks, tickStep);

    if (view.showCursor) {
        const int x = g.xOf(view.cursor);
        if (x >= g.plotLeft && x < g.plotRight) {
            s.setPen(Pen{kCursor, 1, PenStyle::Solid});
            s.moveTo(x, g.bandTop);
            s.lineTo(x, bottomOfAll);
        }
    }
}

OverviewGeometry renderOverview(Surface& surface, int width, int height, const OverviewSet& set,
                                const OverviewView& view) {
    OverviewGeometry g = layoutOverview(surface, width, height, view);
    const OverviewColumns c = set.reduce(view.from, view.to, g.plotWidth());
    drawOverview(surface, g, c, view);
    return g;
}

}  // namespace kvx
