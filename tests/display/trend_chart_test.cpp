#include "display/trend_chart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "display/client_size.h"
#include "display/palette.h"
#include "display/recording_surface.h"

namespace kvx {
namespace {

constexpr Rgb kRed{255, 0, 0};

// A 1000-pixel-high client: the plot is widthPercent of the client width from x = width / 10,
// and spans y = 100..300.
struct Chart {
    explicit Chart(int clientWidth, int widthPercent = 50) {
        chart.setSize(ClientSize{clientWidth, 1000});
        chart.setSizeFractions(static_cast<std::int16_t>(widthPercent), 20);
        chart.setPosition(10, 10);
    }
    TrendChart chart;
};

std::time_t fixedClock() {
    return 1700000000;
}  // 11-14-2023 22:13:20 UTC

// Times are shown in local time; pin the zone so the texts are known.
class TrendChartTime : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) oldTz_ = tz;
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    void TearDown() override {
        oldTz_ ? setenv("TZ", oldTz_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> oldTz_;
};

std::vector<DrawCall> linesWithPen(const RecordingSurface& s, Rgb colour, int width = 1) {
    std::vector<DrawCall> out;
    for (const DrawCall& c : s.callsOf(DrawOp::Line))
        if (c.pen.colour == colour && c.pen.width == width) out.push_back(c);
    return out;
}

TEST(TrendChartGeometry, CapacityAndPixelsPerSampleFollowThePlotWidth) {
    // 600 px: halved to 300 positions of 2 px.
    Chart wide(1200);
    EXPECT_EQ(wide.chart.plot().left, 120);
    EXPECT_EQ(wide.chart.plot().right - wide.chart.plot().left, 600);
    EXPECT_EQ(wide.chart.capacity(), 300);
    EXPECT_EQ(wide.chart.pixelsPerSample(), 2);

    // 540 px: one position per pixel.
    Chart narrow(1080);
    EXPECT_EQ(narrow.chart.plot().right - narrow.chart.plot().left, 540);
    EXPECT_EQ(narrow.chart.capacity(), 540);
    EXPECT_EQ(narrow.chart.pixelsPerSample(), 1);

    // 555 px snaps down to the 20-pixel grid.
    Chart odd(1110);
    EXPECT_EQ(odd.chart.plot().right - odd.chart.plot().left, 540);
    EXPECT_EQ(odd.chart.capacity(), 540);
    EXPECT_EQ(odd.chart.pixelsPerSample(), 1);

    // 560 px is past the halving point.
    Chart justOver(1120);
    EXPECT_EQ(justOver.chart.capacity(), 280);
    EXPECT_EQ(justOver.chart.pixelsPerSample(), 2);
}

TEST(TrendChartGeometry, PanelLayoutAtFullHd) {
    TrendChart chart;
    chart.setSize(ClientSize{1920, 1080});
    chart.setSizeFractions(51, 31);
    chart.setPosition(25, 64);
    chart.setLegend(80, 87, 4, true);
    const TrendChart::Plot p = chart.plot();
    EXPECT_EQ(p.left, 480);
    EXPECT_EQ(p.right, 480 + 960);  // 979 px snapped down
    EXPECT_EQ(p.top, 691);
    EXPECT_EQ(p.bottom, 1025);
    EXPECT_EQ(chart.capacity(), 480);
    EXPECT_EQ(chart.legendX(4), 1536);
    EXPECT_EQ(chart.legendY(4), 939);
}

TEST(TrendChartGeometry, DefaultsHoldUntilARealClientSizeArrives) {
    TrendChart chart;
    EXPECT_EQ(chart.capacity(), 10);
    EXPECT_EQ(chart.plot().left, 50);
    EXPECT_EQ(chart.plot().right, 700);
    EXPECT_EQ(chart.legendX(0), -1);

    // Layout calls before the first size, and a minimised window, keep the plot.
    chart.setSizeFractions(51, 31);
    chart.setPosition(25, 64);
    EXPECT_FALSE(chart.setSize(ClientSize{0, 500}));
    EXPECT_FALSE(chart.setSize(ClientSize{500, 0}));
    EXPECT_EQ(chart.plot().right, 700);
    EXPECT_EQ(chart.capacity(), 10);

    EXPECT_TRUE(chart.setSize(ClientSize{1000, 1000}));
    EXPECT_EQ(chart.plot().left, 250);
    EXPECT_EQ(chart.plot().right, 250 + 500);
    // A legend never placed lies far outside the window (and so hides its channel).
    EXPECT_EQ(chart.legendX(7), 50000);
}

TEST(TrendChartGeometry, ExtremePlotsStayInsideTheStore) {
    // A plot wider than the store can serve stops at the widest width that fits.
    Chart huge(8000, 75);
    EXPECT_EQ(huge.chart.plot().right - huge.chart.plot().left, TrendChart::kMaxPlotWidth);
    EXPECT_EQ(huge.chart.capacity(), 990);
    EXPECT_LE(huge.chart.capacity() + 1, TrendChart::kPositions - 1);

    // Narrower than one grid cell, or inverted: an empty plot that still records one position.
    Chart tiny(100, 10);
    EXPECT_EQ(tiny.chart.plot().right, tiny.chart.plot().left);
    EXPECT_EQ(tiny.chart.capacity(), 1);
    Chart inverted(1000, -30);
    EXPECT_EQ(inverted.chart.plot().right, inverted.chart.plot().left);
    EXPECT_EQ(inverted.chart.capacity(), 1);
}

TEST(TrendChartGeometry, ChannelsOutsideTheTableAreRefused) {
    TrendChart chart;
    for (int bad : {-1, 10, 1000}) {
        EXPECT_FALSE(chart.setLegend(10, 10, bad, true));
        EXPECT_FALSE(chart.setLabelPosition(10, 10, bad));
        EXPECT_FALSE(chart.setChannelRange(0, 1, bad, 2));
        EXPECT_FALSE(chart.setChannelText("x", "y", bad));
        EXPECT_FALSE(chart.setLabel("x", 2, bad));
        EXPECT_FALSE(chart.addSample(1.0, bad));
    }
    EXPECT_TRUE(chart.setLegend(10, 10, 9, true));
}

TEST(TrendChartRecording, SamplesAreClassifiedAgainstTheChannelRange) {
    TrendChart chart;
    chart.setChannelRange(-8, 24, 0, 12);
    chart.setChannelRange(std::nan(""), 100, 2, 5);
    // Channel 3 keeps the unset range 0..0: everything lands mid-plot.
    struct Case {
        double value;
        int channel;
        TrendChart::Status status;
        int sample;  // checked for valid samples only
    };
    const Case cases[] = {
        {24, 0, TrendChart::Valid, 0},
        {-8, 0, TrendChart::Valid, 10000},
        {8, 0, TrendChart::Valid, 5000},
        {24.001, 0, TrendChart::OverRange, 0},
        {-8.5, 0, TrendChart::UnderRange, 0},
        // Far out of range stays out of range, not wrapped into the plot by the 16-bit store.
        {1e9, 0, TrendChart::OverRange, 0},
        {-1e9, 0, TrendChart::UnderRange, 0},
        {123, 3, TrendChart::Valid, 5000},
        {-5e6, 3, TrendChart::Valid, 5000},
        {std::nan(""), 0, TrendChart::NoData, 0},
        {50, 2, TrendChart::NoData, 0},
    };
    for (const Case& c : cases) {
        chart.addSample(c.value, c.channel);
        const int w = chart.writeIndex();
        EXPECT_EQ(chart.status(c.channel, w), c.status) << c.value;
        if (c.status == TrendChart::Valid) {
            EXPECT_EQ(chart.sample(c.channel, w), c.sample) << c.value;
        }
        if (!std::isnan(c.value)) {
            EXPECT_EQ(chart.rawValue(c.channel, w), c.value);
        }
        chart.advance();
    }
}

TEST(TrendChartRecording, SweepClearsAfterCapacityPlusTwoAdvances) {
    Chart c(1080);  // capacity 540
    TrendChart& chart = c.chart;
    chart.setChannelRange(0, 100, 0, 2);
    chart.setClock(fixedClock);
    const int cap = chart.capacity();
    for (int i = 0; i < cap + 1; ++i) {
        chart.advance();
        chart.stampTime();
        chart.addSample(50, 0);
        EXPECT_EQ(chart.displayIndex(), chart.writeIndex());
    }
    EXPECT_EQ(chart.writeIndex(), cap + 1);
    EXPECT_EQ(chart.status(0, cap + 1), TrendChart::Valid);

    chart.advance();
    EXPECT_EQ(chart.writeIndex(), 0);
    EXPECT_EQ(chart.displayIndex(), 0);
    EXPECT_EQ(chart.drawnFrom(), 0);
    for (int j : {0, 1, cap / 2, cap + 1})
        EXPECT_EQ(chart.status(0, j), TrendChart::NoData);
    // Time stamps survive the clear until overwritten.
    EXPECT_EQ(chart.timeStamp(cap / 2), fixedClock());
}

TEST(TrendChartRecording, PutTimeStampStepsAndStampsWithTheSamples) {
    Chart c(1200);  // capacity 300
    TrendChart& chart = c.chart;
    chart.clear();
    // A playback chunk of capacity + 1 records fits without a clear.
    for (int k = 0; k <= chart.capacity(); ++k) {
        chart.putTimeStamp(1000 + k);
        chart.addSample(k, 0);
    }
    EXPECT_EQ(chart.writeIndex(), chart.capacity() + 1);
    // Each record's time with its samples; the sweep's origin has the first one's too.
    EXPECT_EQ(chart.timeStamp(0), 1000);
    EXPECT_EQ(chart.timeStamp(1), 1000);
    EXPECT_EQ(chart.rawValue(0, 1), 0);
    EXPECT_EQ(chart.timeStamp(chart.capacity() + 1), 1000 + chart.capacity());
    EXPECT_EQ(chart.rawValue(0, chart.capacity() + 1), chart.capacity());

    // One more starts the sweep again at position 0.
    chart.putTimeStamp(5000);
    EXPECT_EQ(chart.writeIndex(), 0);
    EXPECT_EQ(chart.timeStamp(0), 5000);
    EXPECT_EQ(chart.timeStamp(chart.capacity() + 1), 1000 + chart.capacity());
    EXPECT_EQ(chart.status(0, 1), TrendChart::NoData);

    EXPECT_TRUE(chart.setDisplayIndex(chart.capacity() + 1));
    EXPECT_EQ(chart.displayIndex(), chart.capacity() + 1);
    EXPECT_FALSE(chart.setDisplayIndex(TrendChart::kPositions));
    EXPECT_FALSE(chart.setDisplayIndex(-1));
    EXPECT_EQ(chart.displayIndex(), chart.capacity() + 1);
}

TEST(TrendChartRecording, ShrinkingThePlotNeverWritesOutsideTheStore) {
    Chart c(8000, 75);  // the widest plot, capacity 990
    TrendChart& chart = c.chart;
    for (int i = 0; i < 3 * chart.capacity(); ++i) {
        chart.advance();
        chart.stampTime();
        for (int ch = 0; ch < TrendChart::kChannels; ++ch)
            chart.addSample(i, ch);
        ASSERT_LE(chart.writeIndex(), chart.capacity() + 1);
    }
    EXPECT_TRUE(chart.setDisplayIndex(TrendChart::kPositions - 1));
    // The old write index is past the new capacity: drawing must stay on the plot.
    chart.setSizeFractions(10, 20);
    RecordingSurface s;
    chart.drawGrid(s);
    chart.drawTraces(s, true);
    chart.drawLegend(s);
    for (const DrawCall& line : linesWithPen(s, paletteColor(5))) {
        EXPECT_LE(line.x1, chart.plot().right + chart.pixelsPerSample());
    }
    chart.advance();
    EXPECT_EQ(chart.writeIndex(), 0);
}

TEST(TrendChartRecording, TextsAreCutToTheirFields) {
    TrendChart chart;
    chart.setChannelText("ENGINE SPEED /32767/", "0123456789abcdef", 8);
    EXPECT_EQ(chart.channelName(8), "ENGINE SPEED /32767");
    EXPECT_EQ(chart.channelUnits(8), "0123456789abcd");
    chart.setLabel(std::string(50, 'g'), 5, 2);
    EXPECT_EQ(chart.label(2), std::string(34, 'g'));
    chart.setLabel("GAS is ON", 5, 2);
    EXPECT_EQ(chart.label(2), "GAS is ON");
}

TEST(TrendChartDrawing, GridPlotLinesAndPercentScale) {
    Chart c(1200);  // plot 120..720 x 100..300
    RecordingSurface s({20, 8});
    c.chart.drawGrid(s);

    const auto rects = s.callsOf(DrawOp::Rectangle);
    ASSERT_FALSE(rects.empty());
    EXPECT_EQ(rects[0].x0, 120);
    EXPECT_EQ(rects[0].y0, 100);
    EXPECT_EQ(rects[0].x1, 721);
    EXPECT_EQ(rects[0].y1, 301);
    EXPECT_EQ(rects[0].brush.colour, (Rgb{230, 242, 242}));

    // 19 horizontal lines from 5 to 95 percent and 19 vertical ones; the quarters darker.
    std::vector<int> horizontal, vertical, majorY, majorX;
    for (const DrawCall& l : s.callsOf(DrawOp::Line)) {
        const bool major = l.pen.colour == paletteColor(8);
        EXPECT_TRUE(major || l.pen.colour == paletteColor(7));
        if (l.y0 == l.y1) {
            EXPECT_EQ(l.x0, 120);
            EXPECT_EQ(l.x1, 720);
            horizontal.push_back(l.y0);
            if (major) majorY.push_back(l.y0);
        } else {
            EXPECT_EQ(l.x0, l.x1);
            EXPECT_EQ(l.y0, 100);
            EXPECT_EQ(l.y1, 300);
            vertical.push_back(l.x0);
            if (major) majorX.push_back(l.x0);
        }
    }
    ASSERT_EQ(horizontal.size(), 19u);
    ASSERT_EQ(vertical.size(), 19u);
    EXPECT_EQ(horizontal.front(), 110);
    EXPECT_EQ(horizontal.back(), 290);
    EXPECT_EQ(vertical.front(), 150);
    EXPECT_EQ(vertical.back(), 690);
    EXPECT_EQ(majorY, (std::vector<int>{150, 200, 250}));
    EXPECT_EQ(majorX, (std::vector<int>{270, 420, 570}));

    const auto zero = s.textCalls("0");
    ASSERT_EQ(zero.size(), 1u);
    EXPECT_EQ(zero[0].x0, 725);
    EXPECT_EQ(zero[0].y0, 300);
    EXPECT_EQ(zero[0].align, (TextAlign{HAlign::Left, VAlign::Bottom}));
    const std::pair<const char*, int> tops[] = {
        {"25", 240}, {"50", 190}, {"75", 140}, {"100", 100}};
    for (auto [text, y] : tops) {
        const auto t = s.textCalls(text);
        ASSERT_EQ(t.size(), 1u) << text;
        EXPECT_EQ(t[0].y0, y) << text;
        EXPECT_EQ(t[0].align, (TextAlign{HAlign::Left, VAlign::Top})) << text;
        EXPECT_TRUE(t[0].transparent);
    }
}

TEST(TrendChartDrawing, LegendBoxesFollowTheFontOfThePaint) {
    Chart c(1200);
    TrendChart& chart = c.chart;
    chart.setLegend(5, 50, 0, true);    // (60, 500)
    chart.setLabelPosition(80, 60, 0);  // (960, 600)
    chart.setLegend(-10, 50, 1, true);  // hidden
    for (int ch = 2; ch < TrendChart::kChannels; ++ch)
        chart.setLegend(-1, 0, ch, true);
    RecordingSurface s({20, 8});
    chart.drawGrid(s);
    const auto rects = s.callsOf(DrawOp::Rectangle);
    ASSERT_EQ(rects.size(), 3u);  // the plot and channel 0's two boxes
    // Box height trunc(20 * 1.3) = 26, width 8 * 20 = 160.
    EXPECT_EQ(rects[1].x0, 50);
    EXPECT_EQ(rects[1].y0, 500 - 26 - 10);
    EXPECT_EQ(rects[1].x1, 60 + 160 + 15);
    EXPECT_EQ(rects[1].y1, 500 + 26 - 10);
    EXPECT_EQ(rects[2].x0, 950);
    EXPECT_EQ(rects[2].y0, 600 - 36);

    // The units sit after a gap proportional to the box width of the last grid.
    chart.setChannelText("DIESEL FLOW", "LPH", 0);
    chart.setChannelRange(0, 100, 0, 2);
    chart.addSample(10, 0);
    RecordingSurface legend;
    chart.drawLegend(legend);
    const auto units = legend.textCalls("LPH");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].x0, 60 + 35 + 48 + 11);
    EXPECT_EQ(units[0].y0, 505);
}

TEST(TrendChartDrawing, TracesAreStepLinesBrokenByInvalidSamples) {
    Chart c(1200);  // plot 120..720 x 100..300, 2 px per sample, 0.02 px per unit
    TrendChart& chart = c.chart;
    chart.setLegend(5, 50, 0, true);
    for (int ch = 1; ch < TrendChart::kChannels; ++ch)
        chart.setLegend(-1, 0, ch, true);
    chart.setChannelRange(0, 100, 0, 13);
    // Positions 0..5: 100, 50, 50, over range, 0, 25; write index ends at 6.
    for (double v : {100.0, 50.0, 50.0, 150.0, 0.0, 25.0}) {
        chart.addSample(v, 0);
        chart.addSample(v, 1);  // hidden, but with data
        chart.advance();
    }
    RecordingSurface s;
    chart.drawTraces(s, true);
    const auto lines = linesWithPen(s, paletteColor(13));
    // Pairs (0,1), (1,2), (2,3 over: flat), (4,5); the over-range position draws nothing.
    struct Seg {
        int x0, y0, x1, y1;
    };
    const std::vector<Seg> expected = {
        {122, 100, 124, 100}, {124, 100, 124, 200},  // 100 -> 50
        {124, 200, 126, 200}, {126, 200, 126, 200},  // 50 -> 50
        {126, 200, 128, 200}, {128, 200, 128, 200},  // 50, next invalid: flat
        {130, 300, 132, 300}, {132, 300, 132, 250},  // 0 -> 25
    };
    ASSERT_EQ(lines.size(), expected.size());
    // Hidden channels draw no trace.
    EXPECT_EQ(s.callsOf(DrawOp::Line).size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i].x0, expected[i].x0) << i;
        EXPECT_EQ(lines[i].y0, expected[i].y0) << i;
        EXPECT_EQ(lines[i].x1, expected[i].x1) << i;
        EXPECT_EQ(lines[i].y1, expected[i].y1) << i;
    }
    // Position 5 has no following sample yet; nothing reaches x = 134.
    for (const DrawCall& l : lines)
        EXPECT_LE(l.x1, 132);
    EXPECT_EQ(chart.drawnFrom(), 6);

    // Without restart only what was recorded since is drawn.
    chart.addSample(75, 0);
    chart.advance();
    RecordingSurface more;
    chart.drawTraces(more, false);
    const auto added = linesWithPen(more, paletteColor(13));
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0].x0, 132);
    EXPECT_EQ(added[0].y0, 250);
    EXPECT_EQ(added[1].y1, 150);
}

TEST(TrendChartDrawing, AChannelWhoseLegendLiesOffTheWindowDrawsNothing) {
    // The panel's spare channel: a range and samples, but no legend place. Its legend lands far
    // right of the window; a flat trace of it would run across the middle of the plot.
    Chart c(1920);
    TrendChart& chart = c.chart;
    chart.setChannelRange(-500, 500, 7, 10);
    chart.setChannelText("HH", "HH", 7);
    chart.setLegend(5, 50, 0, true);
    chart.setChannelRange(0, 100, 0, 13);
    chart.setLegend(99, 50, 1, true);  // inside, at the right edge: still shown
    chart.setChannelRange(0, 100, 1, 14);
    for (int ch = 2; ch < TrendChart::kChannels; ++ch)
        if (ch != 7) chart.setLegend(-1, 0, ch, true);
    for (int i = 0; i < 5; ++i) {
        chart.addSample(0, 7);
        chart.addSample(50, 0);
        chart.addSample(50, 1);
        chart.advance();
    }
    ASSERT_GE(chart.legendX(7), 1920);

    RecordingSurface s;
    chart.drawGrid(s);
    chart.drawLegend(s);
    chart.drawTraces(s, true);
    EXPECT_TRUE(linesWithPen(s, paletteColor(10)).empty());
    EXPECT_TRUE(linesWithPen(s, paletteColor(10), 4).empty());
    EXPECT_FALSE(s.hasText("HH"));
    EXPECT_FALSE(linesWithPen(s, paletteColor(13)).empty());
    EXPECT_FALSE(linesWithPen(s, paletteColor(14)).empty());
    // The plot and two boxes for each of the two shown channels.
    EXPECT_EQ(s.callsOf(DrawOp::Rectangle).size(), 5u);
}

// Counts the vertices a paint's polylines hold against what the chart said to expect.
class VertexCounter : public RecordingSurface {
  public:
    void expectVertices(std::size_t count) override { expected = count; }
    void polyline(const Vertex* vertices, std::size_t count) override {
        drawn += count;
        RecordingSurface::polyline(vertices, count);
    }
    std::size_t expected = 0, drawn = 0;
};

TEST(TrendChartDrawing, AFullChartDrawsNoMoreVerticesThanItAnnounces) {
    // Wide enough that the capacity is halved, and narrow; every shown channel full, then with
    // every seventh sample over range (a break) and one channel hidden.
    struct Case {
        int clientWidth;
        int breakEvery;  // 0: none
        int hidden;      // -1: none
    };
    for (const Case k : {Case{1200, 0, -1}, Case{1920, 0, -1}, Case{700, 7, 3}, Case{1920, 7, 0}}) {
        Chart c(k.clientWidth);
        TrendChart& chart = c.chart;
        std::size_t shown = 0;
        for (int ch = 0; ch < TrendChart::kChannels; ++ch) {
            chart.setChannelRange(0, 100, ch, 2 + ch);
            chart.setLegend(static_cast<std::int16_t>(5 + 9 * ch), 50, ch, true);
            if (ch == k.hidden) {
                chart.setLegend(-1, 0, ch, true);
            } else {
                ++shown;
            }
        }
        const int cap = chart.capacity();
        // Positions 0 .. capacity + 1, all written.
        for (int i = 0; i < cap + 2; ++i) {
            if (i > 0) chart.advance();
            const bool broken = k.breakEvery > 0 && i % k.breakEvery == 0;
            for (int ch = 0; ch < TrendChart::kChannels; ++ch)
                chart.addSample(broken ? 150.0 : (i * 7 + ch * 13) % 100, ch);
        }
        ASSERT_EQ(chart.writeIndex(), cap + 1);
        VertexCounter s;
        chart.drawTraces(s, true);
        const std::size_t bound = shown * (2 * static_cast<std::size_t>(cap) + 1);
        EXPECT_EQ(s.expected, bound) << k.clientWidth;
        if (k.breakEvery == 0) {
            EXPECT_EQ(s.drawn, bound) << k.clientWidth;  // the bound is met exactly
        } else {
            EXPECT_GT(s.drawn, 0u);
            EXPECT_LT(s.drawn, bound) << k.clientWidth;
        }
    }
}

TEST_F(TrendChartTime, LegendShowsCursorTimeAndChannelValues) {
    Chart c(1200);  // plot 120..720 x 100..300, 2 px per sample
    TrendChart& chart = c.chart;
    chart.setClock(fixedClock);
    chart.setLegend(5, 50, 0, true);   // (60, 500), "%.2f"
    chart.setLegend(5, 60, 4, true);   // (60, 600), "%.3f"
    chart.setLegend(5, 70, 6, true);   // (60, 700), "%.0f"
    chart.setLegend(5, 80, 1, false);  // (60, 800), from the stored sample
    chart.setLegend(50, 50, 2, true);  // (600, 500)
    chart.setLegend(50, 60, 5, true);  // (600, 600)
    chart.setLegend(50, 70, 3, true);  // (600, 700)
    for (int ch : {7, 8, 9})
        chart.setLegend(-1, 0, ch, true);
    chart.setChannelRange(0, 100, 0, 2);
    chart.setChannelRange(0, 1, 4, 3);
    chart.setChannelRange(0, 1250, 6, 6);
    chart.setChannelRange(0, 400, 1, 5);
    chart.setChannelRange(-8, 24, 2, 12);
    chart.setChannelRange(-8, 24, 5, 13);
    chart.setChannelText("DIESEL FLOW", "LPH", 0);
    chart.setChannelText("PRESSURE FDBK", "in. W.C.", 2);
    chart.setChannelRange(0, 3000, 8, 14);
    chart.setLabel("GAS is OFF", 5, 2);
    chart.setLabelPosition(80, 93, 2);

    for (int i = 0; i < 3; ++i)
        chart.advance();
    chart.stampTime();
    chart.addSample(12.346, 0);
    chart.addSample(0.1234, 4);
    chart.addSample(700.6, 6);
    chart.addSample(123.0, 1);
    chart.addSample(30, 2);  // above 24
    chart.addSample(-9, 5);  // below -8
    // Channel 3 gets nothing: no data.

    RecordingSurface s;
    chart.drawLegend(s);

    const auto cursor = linesWithPen(s, kRed);
    ASSERT_EQ(cursor.size(), 1u);
    EXPECT_EQ(cursor[0].x0, 126);
    EXPECT_EQ(cursor[0].y0, 100);
    EXPECT_EQ(cursor[0].y1, 300);

    const auto stamp = s.textCalls("11-14-2023 22:13:20");
    ASSERT_EQ(stamp.size(), 1u);
    EXPECT_EQ(stamp[0].x0, 126);
    EXPECT_EQ(stamp[0].y0, 100);
    EXPECT_EQ(stamp[0].align, (TextAlign{HAlign::Centre, VAlign::Bottom}));

    const auto value = [&](const char* text, int x, int y) {
        const auto t = s.textCalls(text);
        ASSERT_EQ(t.size(), 1u) << text;
        EXPECT_EQ(t[0].x0, x) << text;
        EXPECT_EQ(t[0].y0, y) << text;
    };
    value("12.35", 101, 505);
    value("0.123", 101, 605);
    value("701", 101, 705);
    // 123 on 0..400 is stored as 6925 and read back from that.
    value("123.0", 101, 805);
    value("DIESEL FLOW", 60, 490);
    value("GAS is OFF", 960, 925);
    EXPECT_EQ(s.textCalls("GAS is OFF")[0].textColour, paletteColor(5));

    value("OverRange", 639, 505);
    value("UnderRange", 639, 605);
    value("No Data", 639, 705);
    for (const char* status : {"OverRange", "UnderRange", "No Data"})
        EXPECT_EQ(s.textCalls(status)[0].textColour, kRed) << status;
    // An out-of-range channel shows no value and no units.
    EXPECT_EQ(s.textCalls("in. W.C.").size(), 0u);

    // A 4 px line in each shown channel's colour starts its legend.
    const auto swatch = linesWithPen(s, paletteColor(12), 4);
    ASSERT_EQ(swatch.size(), 1u);
    EXPECT_EQ(swatch[0].x0, 600);
    EXPECT_EQ(swatch[0].x1, 635);
    EXPECT_TRUE(linesWithPen(s, paletteColor(14), 4).empty());  // channel 8 hidden
}

// Records a few seconds apart, each in a second of its own.
std::time_t recordTime(int k) {
    return 1700000000 + 7 * k;
}
std::time_t liveNow = 0;
std::time_t liveClock() {
    return liveNow;
}

// Whether the chart is filled by live paints or by the player, the time above the cursor is the
// time of the record whose values the legend shows there.
TEST_F(TrendChartTime, TheCursorTimeBelongsToTheValuesShown) {
    constexpr int kRecords = 40;
    using Fill = void (*)(TrendChart&);
    const std::pair<const char*, Fill> fills[] = {
        {"live",
         [](TrendChart& chart) {
             chart.setClock(liveClock);
             for (int k = 0; k < kRecords; ++k) {
                 chart.advance();
                 liveNow = recordTime(k);
                 chart.stampTime();
                 chart.addSample(k, 0);
             }
         }},
        {"playback",
         [](TrendChart& chart) {
             chart.clear();
             for (int k = 0; k < kRecords; ++k) {
                 chart.putTimeStamp(recordTime(k));
                 chart.addSample(k, 0);
             }
         }},
    };
    for (const auto& [name, fill] : fills) {
        Chart c(1200);
        TrendChart& chart = c.chart;
        chart.setLegend(5, 50, 0, true);
        chart.setChannelRange(0, 100, 0, 2);
        for (int ch = 1; ch < TrendChart::kChannels; ++ch)
            chart.setLegend(-1, 0, ch, true);
        fill(chart);
        for (int k : {0, 1, 17, kRecords - 1}) {
            // Record k's samples sit at position k + 1, where the player points the chart.
            ASSERT_TRUE(chart.setDisplayIndex(k + 1));
            RecordingSurface s;
            chart.drawLegend(s);
            char value[16], time[32];
            std::snprintf(value, sizeof value, "%.2f", static_cast<double>(k));
            const std::time_t t = recordTime(k);
            std::strftime(time, sizeof time, "%m-%d-%Y %H:%M:%S", std::gmtime(&t));
            EXPECT_TRUE(s.hasText(value)) << name << ", record " << k;
            EXPECT_TRUE(s.hasText(time)) << name << ", record " << k;
            EXPECT_EQ(chart.timeStamp(k + 1), t) << name << ", record " << k;
        }
    }
}

TEST_F(TrendChartTime, TimeAxisKeepsOldStampsAfterTheSweepClears) {
    Chart c(1080);  // 540 px, capacity 540, 1 px per sample
    TrendChart& chart = c.chart;
    for (int i = 0; i < chart.capacity() + 2; ++i)
        chart.putTimeStamp(1700000000 + i);
    ASSERT_EQ(chart.writeIndex(), 0);

    RecordingSurface s;
    chart.drawLegend(s);
    // Axis positions 0, 135, 270, 405, 540 under x = 108 + 0, 135, 270, 405, 540. Position k
    // holds the stamp of call k - 1; position 0, where the sweep began again, the last one's.
    const std::pair<const char*, int> axis[] = {{"22:22:21", 108},
                                                {"22:15:34", 243},
                                                {"22:17:49", 378},
                                                {"22:20:04", 513},
                                                {"22:22:19", 648}};
    for (auto [text, x] : axis) {
        const auto t = s.textCalls(text);
        ASSERT_EQ(t.size(), 1u) << text;
        EXPECT_EQ(t[0].x0, x) << text;
        EXPECT_EQ(t[0].y0, 302) << text;
        EXPECT_EQ(t[0].align, (TextAlign{HAlign::Centre, VAlign::Top})) << text;
    }
    // The cursor is at the new sweep's start.
    EXPECT_TRUE(s.hasText("11-14-2023 22:22:21"));

    // An unstamped axis position shows nothing.
    TrendChart fresh;
    fresh.setSize(ClientSize{1080, 1000});
    RecordingSurface empty;
    fresh.drawLegend(empty);
    for (const DrawCall& t : empty.callsOf(DrawOp::Text))
        EXPECT_EQ(t.text.find(':'), std::string::npos) << t.text;
}

}  // namespace
}  // namespace kvx
