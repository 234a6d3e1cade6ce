#include "display/trend_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "display/client_size.h"
#include "display/palette.h"
#include "display/pixel_math.h"

namespace kvx {

namespace {

constexpr const char* kStatusText[] = {"", "OverRange", "UnderRange", "No Data"};

bool validChannel(int channel) {
    return channel >= 0 && channel < TrendChart::kChannels;
}
bool validPosition(int position) {
    return position >= 0 && position < TrendChart::kPositions;
}

// Copies at most size - 1 bytes and always terminates.
template <std::size_t N>
void copyText(char (&field)[N], std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// Local time through strftime; empty when the time cannot be represented.
void formatTime(char (&out)[64], std::time_t time, const char* format) {
    out[0] = '\0';
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) return;
    if (std::strftime(out, sizeof out, format, &local) == 0) out[0] = '\0';
}

std::time_t systemClock() {
    return std::time(nullptr);
}

}  // namespace

TrendChart::TrendChart() : clock_(systemClock) {
    for (Channel& ch : channels_) {
        ch.samples.fill(10000);
        ch.raw.fill(0.0);
        ch.status.fill(NoData);
    }
}

void TrendChart::setSizeFractions(std::int16_t widthPercent, std::int16_t heightPercent) {
    widthFraction_ = widthPercent / 100.0;
    heightFraction_ = heightPercent / 100.0;
    computeGeometry();
}

void TrendChart::setPosition(std::int16_t leftPercent, std::int16_t topPercent) {
    leftFraction_ = leftPercent / 100.0;
    topFraction_ = topPercent / 100.0;
    computeGeometry();
}

bool TrendChart::setSize(ClientSize clientSize) {
    if (clientSize.width == 0 || clientSize.height == 0) return false;
    clientSize_ = clientSize;
    computeGeometry();
    return true;
}

bool TrendChart::setLegend(std::int16_t xPercent, std::int16_t yPercent, int channel,
                           bool fixedDecimals) {
    if (!validChannel(channel)) return false;
    Channel& ch = channels_[static_cast<std::size_t>(channel)];
    ch.legendXFraction = xPercent / 100.0;
    ch.legendYFraction = yPercent / 100.0;
    ch.fixedDecimals = fixedDecimals;
    computeGeometry();
    return true;
}

bool TrendChart::setLabelPosition(std::int16_t xPercent, std::int16_t yPercent, int channel) {
    if (!validChannel(channel)) return false;
    Channel& ch = channels_[static_cast<std::size_t>(channel)];
    ch.labelXFraction = xPercent / 100.0;
    ch.labelYFraction = yPercent / 100.0;
    computeGeometry();
    return true;
}

void TrendChart::computeGeometry() {
    const int w = clientSize_.width;
    const int h = clientSize_.height;
    // Until a real client size arrives the default plot stays in force.
    if (w == 0 || h == 0) return;

    plot_.left = truncToInt(w * leftFraction_);
    plot_.right = truncToInt(w * widthFraction_ + plot_.left);
    plot_.top = truncToInt(h * topFraction_);
    plot_.bottom = truncToInt(h * heightFraction_ + plot_.top);

    // Whole 20-pixel grid cells; a negative width collapses to an empty plot, and the width is
    // capped so that every position the sweep can write stays inside the store.
    const int cells = std::clamp((plot_.right - plot_.left) / 20, 0, kMaxPlotWidth / 20);
    plot_.right = plot_.left + 20 * cells;

    capacity_ = 20 * cells;
    if (capacity_ > 549) capacity_ /= 2;
    // A plot narrower than one cell still records, so callers may divide by the capacity.
    capacity_ = std::max(capacity_, 1);

    verticalScale_ = (plot_.bottom - plot_.top) / 10000.0;

    for (Channel& ch : channels_) {
        ch.legendX = truncToInt(w * ch.legendXFraction);
        ch.legendY = truncToInt(h * ch.legendYFraction);
        ch.labelX = truncToInt(w * ch.labelXFraction);
        ch.labelY = truncToInt(h * ch.labelYFraction);
    }
}

bool TrendChart::setChannelRange(double min, double max, int channel, int colourIndex) {
    if (!validChannel(channel)) return false;
    Channel& ch = channels_[static_cast<std::size_t>(channel)];
    ch.min = min;
    ch.max = max;
    ch.colour = colourIndex;
    return true;
}

bool TrendChart::setChannelText(std::string_view name, std::string_view units, int channel) {
    if (!validChannel(channel)) return false;
    Channel& ch = channels_[static_cast<std::size_t>(channel)];
    copyText(ch.name, name);
    copyText(ch.units, units);
    return true;
}

bool TrendChart::setLabel(std::string_view text, int colourIndex, int channel) {
    if (!validChannel(channel)) return false;
    Channel& ch = channels_[static_cast<std::size_t>(channel)];
    copyText(ch.label, text);
    ch.labelColour = colourIndex;
    return true;
}

bool TrendChart::addSample(double value, int channel) {
    if (!validChannel(channel)) return false;
    Channel& ch = channels_[static_cast<std::size_t>(channel)];
    const auto w = static_cast<std::size_t>(write_);
    ch.raw[w] = value;
    // Scaled 0..10000 from the top of the plot; judged before narrowing to 16 bits.
    const double scaled = mapLinear(ch.min, ch.max, 10000, 0, value);
    if (std::isnan(value) || std::isnan(scaled)) {
        // Not a reading at all: shown as missing rather than as a point somewhere on the plot.
        ch.samples[w] = 10000;
        ch.status[w] = NoData;
        return true;
    }
    ch.samples[w] = static_cast<std::int16_t>(std::clamp(scaled, -32768.0, 32767.0));
    ch.status[w] = scaled < 0 ? OverRange : scaled > 10000 ? UnderRange : Valid;
    return true;
}

void TrendChart::step() {
    ++write_;
    if (write_ > capacity_ + 1) {
        clear();
        write_ = 0;
    }
    display_ = write_;
}

void TrendChart::advance() {
    step();
}

void TrendChart::stampTime() {
    stamps_[static_cast<std::size_t>(write_)] = clock_();
}

void TrendChart::putTimeStamp(std::time_t time) {
    // The stamp belongs with the samples that follow it, at the position they are written to,
    // where a live paint's advance and stampTime put it; stamped before the step, the cursor
    // showed each record with the next one's time. A sweep begun afresh gives its origin the
    // same time, so the axis does not start with a time left from before.
    if (write_ == 0) stamps_[0] = time;
    step();
    stamps_[static_cast<std::size_t>(write_)] = time;
}

void TrendChart::clear() {
    for (Channel& ch : channels_) {
        ch.samples.fill(10000);
        ch.status.fill(NoData);
    }
    display_ = 0;
    write_ = 0;
    drawnFrom_ = 0;
}

void TrendChart::clearTimeStamps() {
    stamps_.fill(0);
}

bool TrendChart::setDisplayIndex(int index) {
    if (!validPosition(index)) return false;
    display_ = index;
    return true;
}

// A channel is shown only where its legend lies in the window: a legend left of it (x <= 0), or
// one never placed (its default fraction puts it far to the right), hides the channel with its
// trace, so a spare channel draws no line across the plot.
bool TrendChart::shown(const Channel& ch) const {
    return ch.legendX > 0 && ch.legendX < clientSize_.width;
}

void TrendChart::setClock(Clock clock) {
    clock_ = clock != nullptr ? clock : systemClock;
}

void TrendChart::drawGrid(Surface& surface) {
    const FixedScope fixed(surface);
    const TextMetrics metrics = surface.textMetrics();
    boxHeight_ = truncToInt(metrics.height * 1.3);
    boxWidth_ = metrics.averageWidth * 20;

    const Plot& p = plot_;
    surface.setPen(kBlackPen);
    surface.setBrush(Brush{{230, 242, 242}, false});
    surface.rectangle(p.left, p.top, p.right + 1, p.bottom + 1);

    // Boxes behind each shown channel's legend and label.
    for (const Channel& ch : channels_) {
        if (!shown(ch)) continue;
        surface.rectangle(ch.legendX - 10, ch.legendY - boxHeight_ - 10,
                          ch.legendX + boxWidth_ + 15, ch.legendY + boxHeight_ - 10);
        surface.rectangle(ch.labelX - 10, ch.labelY - boxHeight_ - 10, ch.labelX + boxWidth_ + 15,
                          ch.labelY + boxHeight_ - 10);
    }

    const Pen minor{paletteColor(7), 1, PenStyle::Solid};
    const Pen major{paletteColor(8), 1, PenStyle::Solid};
    const int width = p.right - p.left;
    const int height = p.bottom - p.top;
    for (int r = 0; r <= 20; ++r) {
        if (r <= 18) {
            const int y = truncToInt(height * ((r + 1) * 0.05)) + p.top;
            surface.setPen(r == 4 || r == 9 || r == 14 ? major : minor);
            surface.moveTo(p.left, y);
            surface.lineTo(p.right, y);
        }
        if (r >= 1 && r <= 19) {
            const int x = truncToInt(width * (r * 0.05)) + p.left;
            surface.setPen(r == 5 || r == 10 || r == 15 ? major : minor);
            surface.moveTo(x, p.top);
            surface.lineTo(x, p.bottom);
        }
    }

    surface.setTransparentBackground(true);
    surface.setTextColour(paletteColor(axisTextColour_));
    char text[16];
    const auto percent = [&](double value, VAlign v, int y) {
        std::snprintf(text, sizeof text, "%.0f", value);
        surface.setTextAlign({HAlign::Left, v});
        surface.text(p.right + 5, y, text);
    };
    percent(0, VAlign::Bottom, p.bottom);
    percent(50, VAlign::Top, truncToInt((p.top + p.bottom) * 0.5 - 10));
    percent(75, VAlign::Top, truncToInt(height * 0.25 - 10 + p.top));
    percent(25, VAlign::Top, truncToInt(height * 0.75 - 10 + p.top));
    percent(100, VAlign::Top, p.top);
}

void TrendChart::drawTraces(Surface& surface, bool restart) {
    if (restart) drawnFrom_ = 0;
    const int p = pixelsPerSample();
    // Positions past capacity + 1 are left over from a wider plot; they would land beyond the
    // right edge until the next sweep clears them.
    const int last = std::min(write_ - 1, capacity_);
    const auto yOf = [this](int sample) { return truncToInt(sample * verticalScale_ + plot_.top); };
    // A full chart: every shown channel one run of a first vertex and two per position.
    std::size_t shownChannels = 0;
    for (const Channel& ch : channels_)
        if (shown(ch)) ++shownChannels;
    surface.expectVertices(shownChannels * (2 * static_cast<std::size_t>(capacity_) + 1));
    for (const Channel& ch : channels_) {
        if (!shown(ch)) continue;
        surface.setPen(Pen{paletteColor(ch.colour), 1, PenStyle::Solid});
        // A step per position, across to the next position and up or down to its value; steps
        // that meet form one run, which a missing value ends.
        std::size_t n = 0;
        for (int j = std::max(drawnFrom_, 1); j <= last; ++j) {
            const auto prev = static_cast<std::size_t>(j - 1);
            const auto cur = static_cast<std::size_t>(j);
            if (ch.status[prev] != Valid) {
                if (n > 0) surface.polyline(run_.data(), n);
                n = 0;
                continue;
            }
            const int x = plot_.left + p * j;
            const int ya = yOf(ch.samples[prev]);
            const int yb = ch.status[cur] == Valid ? yOf(ch.samples[cur]) : ya;
            if (n == 0) run_[n++] = Vertex{x, ya};
            run_[n++] = Vertex{x + p, ya};
            run_[n++] = Vertex{x + p, yb};
        }
        if (n > 0) surface.polyline(run_.data(), n);
    }
    drawnFrom_ = write_;
}

void TrendChart::drawLegend(Surface& surface) const {
    const Plot& pl = plot_;
    const int p = pixelsPerSample();
    const auto d = static_cast<std::size_t>(display_);

    const int cursorX = p * display_ + pl.left;
    surface.setPen(Pen{paletteColor(1), 1, PenStyle::Solid});
    surface.moveTo(cursorX, pl.top);
    surface.lineTo(cursorX, pl.bottom);

    surface.setTransparentBackground(true);
    surface.setTextColour(paletteColor(axisTextColour_));
    char text[64];
    text[0] = '\0';
    if (stamps_[d] != 0) formatTime(text, stamps_[d], "%m-%d-%Y %H:%M:%S");
    surface.setTextAlign({HAlign::Centre, VAlign::Bottom});
    surface.text(cursorX, pl.top, text);

    const int width = pl.right - pl.left;
    surface.setTextAlign({HAlign::Centre, VAlign::Top});
    for (int i = 0; i <= 4; ++i) {
        const int k = i * (width / 4) / p;
        const std::time_t stamp = stamps_[static_cast<std::size_t>(k)];
        if (stamp == 0) continue;
        formatTime(text, stamp, "%H:%M:%S");
        surface.text(truncToInt(width * (i * 0.25)) + pl.left, pl.bottom + 2, text);
    }

    for (int c = 0; c < kChannels; ++c) {
        const Channel& ch = channels_[static_cast<std::size_t>(c)];
        if (!shown(ch)) continue;
        const int lx = ch.legendX;
        const int ly = ch.legendY;

        surface.beginFixed();
        surface.setPen(Pen{paletteColor(ch.colour), 4, PenStyle::Solid});
        surface.moveTo(lx, ly);
        surface.lineTo(lx + 35, ly);

        surface.setTextAlign({HAlign::Left, VAlign::Bottom});
        surface.setTextColour(paletteColor(10));
        surface.text(lx, ly - 10, ch.name);
        surface.endFixed();
        surface.setTextColour(paletteColor(ch.labelColour));
        surface.text(ch.labelX, ch.labelY - 5, ch.label);

        if (ch.status[d] != Valid) {
            surface.setTextColour(paletteColor(1));
            surface.text(lx + 39, ly + 5, kStatusText[ch.status[d]]);
            continue;
        }

        if (ch.fixedDecimals) {
            const char* format = c == 0 || c == 1 || c == 2 || c == 5 ? "%.2f"
                                 : c == 4 || c == 9                   ? "%.3f"
                                                                      : "%.0f";
            std::snprintf(text, sizeof text, format, ch.raw[d]);
        } else {
            std::snprintf(text, sizeof text, "%.1f",
                          mapLinear(0, 10000, ch.max, ch.min, ch.samples[d]));
        }
        surface.setTextColour(paletteColor(valueTextColour_));
        surface.text(lx + 41, ly + 5, text);

        const FixedScope fixed(surface);
        surface.setTextColour(paletteColor(10));
        surface.text(lx + 35 + truncToInt(boxWidth_ * 0.3) + 11, ly + 5, ch.units);
    }
}

int TrendChart::legendX(int channel) const {
    return validChannel(channel) ? channels_[static_cast<std::size_t>(channel)].legendX : -1;
}
int TrendChart::legendY(int channel) const {
    return validChannel(channel) ? channels_[static_cast<std::size_t>(channel)].legendY : 0;
}
int TrendChart::labelX(int channel) const {
    return validChannel(channel) ? channels_[static_cast<std::size_t>(channel)].labelX : 0;
}
int TrendChart::labelY(int channel) const {
    return validChannel(channel) ? channels_[static_cast<std::size_t>(channel)].labelY : 0;
}

std::int16_t TrendChart::sample(int channel, int position) const {
    if (!validChannel(channel) || !validPosition(position)) return 10000;
    return channels_[static_cast<std::size_t>(channel)].samples[static_cast<std::size_t>(position)];
}

double TrendChart::rawValue(int channel, int position) const {
    if (!validChannel(channel) || !validPosition(position)) return 0.0;
    return channels_[static_cast<std::size_t>(channel)].raw[static_cast<std::size_t>(position)];
}

TrendChart::Status TrendChart::status(int channel, int position) const {
    if (!validChannel(channel) || !validPosition(position)) return NoData;
    return channels_[static_cast<std::size_t>(channel)].status[static_cast<std::size_t>(position)];
}

std::time_t TrendChart::timeStamp(int position) const {
    return validPosition(position) ? stamps_[static_cast<std::size_t>(position)] : 0;
}

std::string_view TrendChart::channelName(int channel) const {
    return validChannel(channel) ? channels_[static_cast<std::size_t>(channel)].name : "";
}
std::string_view TrendChart::channelUnits(int channel) const {
    return validChannel(channel) ? channels_[static_cast<std::size_t>(channel)].units : "";
}
std::string_view TrendChart::label(int channel) const {
    return validChannel(channel) ? channels_[static_cast<std::size_t>(channel)].label : "";
}

}  // namespace kvx
