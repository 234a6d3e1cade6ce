#include "display/dial_gauge.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "display/client_size.h"
#include "display/palette.h"
#include "display/recording_surface.h"

namespace kvx {
namespace {

constexpr Rgb kInk{7, 0, 0};

// The 1000 x 700 dial of the layout: size 45 %, centre 18 % / 16 %.
DialGauge layoutDial(double min = 0, double max = 3000) {
    DialGauge g;
    g.setCentre(18, 16);
    g.setScale(45);
    g.setSize(ClientSize{1000, 700});
    g.setRange(min, max);
    return g;
}

DrawCall needleOf(const RecordingSurface& s) {
    const std::vector<DrawCall> lines = s.callsOf(DrawOp::Line);
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? DrawCall{} : lines.back();
}

TEST(DialGaugeGeometry, FollowsTheClientSizeAndTheRadiusFollowsTheWidthOnly) {
    DialGauge g = layoutDial();
    EXPECT_EQ(g.cx(), 180);
    EXPECT_EQ(g.cy(), 112);
    EXPECT_EQ(g.left(), 68);
    EXPECT_EQ(g.right(), 292);
    EXPECT_EQ(g.top(), 0);
    EXPECT_EQ(g.bottom(), 224);

    g.setSize(ClientSize{1000, 1400});
    EXPECT_EQ(g.cy(), 224);
    EXPECT_EQ(g.right() - g.left(), 224);

    RecordingSurface s;
    g.drawFace(s, 0);
    const DrawCall dial = s.callsOf(DrawOp::Ellipse).at(0);
    EXPECT_EQ(dial.x0, 68);
    EXPECT_EQ(dial.y0, 112);
    EXPECT_EQ(dial.x1, 292);
    EXPECT_EQ(dial.y1, 336);
    EXPECT_EQ(dial.brush, (Brush{{230, 242, 242}, false}));
    EXPECT_EQ(dial.pen, (Pen{{0, 0, 0}, 2, PenStyle::Solid}));
    const DrawCall hub = s.callsOf(DrawOp::Ellipse).at(1);
    EXPECT_EQ(hub.x0, 180 - 11);
    EXPECT_EQ(hub.x1, 180 + 11);
    EXPECT_EQ(hub.brush, kBlackBrush);
}

TEST(DialGaugeGeometry, ZeroWidthCollapsesEverythingOntoTheCentre) {
    DialGauge g;
    g.setCentre(50, 50);
    g.setSize(ClientSize{0, 400});
    RecordingSurface s;
    g.drawFace(s, 0);
    g.drawValue(150, s, 0);
    for (const DrawCall& c : s.callsOf(DrawOp::Line)) {
        EXPECT_EQ(c.x0, 0);
        EXPECT_EQ(c.x1, 0);
        EXPECT_EQ(c.y1, 200);
    }
}

TEST(DialGaugeNeedle, PointsUpAtMidScaleAndStopsAtTheEndsWhileTheReadOutShowsTheValue) {
    struct Case {
        double value;
        int x, y;
        const char* text;
    };
    // Needle radius trunc-able 0.97 x 112 = 108.64; 7 o'clock is 120 degrees on screen.
    const Case cases[] = {
        {1500, 180, 112 - 108, "1500"},
        {-250, 180 - 54, 112 + 94, "-250"},
        {0, 180 - 54, 112 + 94, "0"},
        {5000, 180 + 54, 112 + 94, "5000"},
        {3000, 180 + 54, 112 + 94, "3000"},
        {750, 180 - 104, 112 - 28, "750"},  // 195 degrees on screen
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const DialGauge g = layoutDial();
        RecordingSurface s;
        g.drawValue(c.value, s, 0);
        const DrawCall n = needleOf(s);
        EXPECT_EQ(n.x0, 180);
        EXPECT_EQ(n.y0, 112);
        EXPECT_EQ(n.x1, c.x);
        EXPECT_EQ(n.y1, c.y);
        EXPECT_EQ(n.pen, (Pen{{0, 0, 0}, 2, PenStyle::Solid}));
        const std::vector<DrawCall> read = s.textCalls(c.text);
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0].x0, 180);
        EXPECT_EQ(read[0].y0, 134);
        EXPECT_EQ(read[0].align, (TextAlign{HAlign::Centre, VAlign::Top}));
        EXPECT_EQ(read[0].textColour, paletteColor(5));
    }
}

TEST(DialGaugeNeedle, ReadOutDecimalsAndAnUndefinedValue) {
    const DialGauge g = layoutDial();
    RecordingSurface s;
    g.drawValue(12.3456, s, 3);
    g.drawValue(12.3456, s, 2);
    g.drawValue(12.3456, s, 1);
    g.drawValue(-12.9, s, 0);
    g.drawValue(12.9, s, 7);
    EXPECT_TRUE(s.hasText("12.346"));
    EXPECT_TRUE(s.hasText("12.35"));
    EXPECT_TRUE(s.hasText("12.3"));
    EXPECT_TRUE(s.hasText("-12"));
    EXPECT_TRUE(s.hasText("12"));

    RecordingSurface n;
    g.drawValue(std::nan(""), n, 0);
    const DrawCall needle = needleOf(n);
    EXPECT_EQ(needle.x1, 180 - 54);
    EXPECT_EQ(needle.y1, 112 + 94);
}

TEST(DialGaugeFace, LabelsSitAroundTheScaleWithTheirAlignments) {
    struct Label {
        int k;
        int x, y;
        TextAlign align;
    };
    // Label radius 0.8 x 112 = 89.6.
    const Label expected[] = {
        {0, 180 - 44, 112 + 77, {HAlign::Centre, VAlign::Bottom}},
        {1, 180 - 77, 112 + 44, {HAlign::Left, VAlign::Bottom}},
        {2, 180 - 89, 112 - 8, {HAlign::Left, VAlign::Top}},
        {3, 180 - 77, 112 - 44, {HAlign::Left, VAlign::Top}},
        {5, 180, 112 - 89, {HAlign::Centre, VAlign::Top}},
        {7, 180 + 77, 112 - 44, {HAlign::Right, VAlign::Top}},
        {8, 180 + 89, 112 - 8, {HAlign::Right, VAlign::Top}},
        {9, 180 + 77, 112 + 44, {HAlign::Right, VAlign::Bottom}},
        {10, 180 + 44, 112 + 77, {HAlign::Centre, VAlign::Bottom}},
    };
    const DialGauge g = layoutDial(0, 300);
    RecordingSurface s;
    g.drawFace(s, 0);
    for (int k = 0; k <= 10; ++k)
        EXPECT_TRUE(s.hasText(std::to_string(30 * k))) << k;
    for (const Label& l : expected) {
        SCOPED_TRACE(l.k);
        const std::vector<DrawCall> t = s.textCalls(std::to_string(30 * l.k));
        ASSERT_EQ(t.size(), 1u);
        EXPECT_EQ(t[0].x0, l.x);
        EXPECT_EQ(t[0].y0, l.y);
        EXPECT_EQ(t[0].align, l.align);
        EXPECT_EQ(t[0].textColour, kInk);
    }

    RecordingSurface d;
    g.drawFace(d, 1);
    EXPECT_TRUE(d.hasText("0.0"));
    EXPECT_TRUE(d.hasText("150.0"));
    EXPECT_TRUE(d.hasText("300.0"));
    EXPECT_FALSE(d.hasText("150"));
}

TEST(DialGaugeFace, EndLabelsPrintTheRangeLimitsThemselves) {
    const DialGauge g = layoutDial(-0.7, 2.3);
    RecordingSurface s;
    g.drawFace(s, 1);
    EXPECT_TRUE(s.hasText("-0.7"));
    EXPECT_TRUE(s.hasText("0.8"));
    EXPECT_TRUE(s.hasText("2.3"));
    RecordingSurface t;
    g.drawFace(t, 0);
    EXPECT_EQ(t.textCalls("0").size(), 6u);  // -0.7 up to 0.8 truncate to 0
}

TEST(DialGaugeFace, HasOneHundredAndOneTicksOfWhichTwentyOneAreMajor) {
    const DialGauge g = layoutDial();
    RecordingSurface s;
    g.drawFace(s, 0);
    const std::vector<DrawCall> ticks = s.callsOf(DrawOp::Line);
    ASSERT_EQ(ticks.size(), 101u);
    int major = 0;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const DrawCall& t = ticks[i];
        EXPECT_EQ(t.pen, (Pen{kInk, 1, PenStyle::Solid}));
        const double inner = std::hypot(t.x0 - 180, t.y0 - 112);
        const double outer = std::hypot(t.x1 - 180, t.y1 - 112);
        EXPECT_NEAR(outer, 0.95 * 112, 1.5);
        const bool isMajor = inner < 0.86 * 112;
        EXPECT_EQ(isMajor, i % 5 == 0) << i;
        major += isMajor;
    }
    EXPECT_EQ(major, 21);
    // The first tick is the start of the scale at 7 o'clock, the last its end at 5 o'clock.
    EXPECT_LT(ticks.front().x1, 180);
    EXPECT_GT(ticks.front().y1, 112);
    EXPECT_GT(ticks.back().x1, 180);
    EXPECT_GT(ticks.back().y1, 112);
}

TEST(DialGaugeZones, WholeScaleZoneRunsCounterClockwiseFromTheEndBackToTheStart) {
    DialGauge g = layoutDial();
    g.setZone(0, 3000, 1, 2);
    RecordingSurface s;
    g.drawFace(s, 0);
    const std::vector<DrawCall> arcs = s.callsOf(DrawOp::Arc);
    ASSERT_EQ(arcs.size(), 1u);
    const DrawCall& a = arcs[0];
    // Radius trunc(224 x 0.47) = 105; corners as the arc call gives them.
    EXPECT_EQ(a.x0, 180 + 105);
    EXPECT_EQ(a.y0, 112 + 105);
    EXPECT_EQ(a.x1, 180 - 105);
    EXPECT_EQ(a.y1, 112 - 105);
    EXPECT_EQ(a.x2, 180 + 52);  // start: the end of the scale, 5 o'clock
    EXPECT_EQ(a.y2, 112 + 90);
    EXPECT_EQ(a.x3, 180 - 52);  // end: the start of the scale, 7 o'clock
    EXPECT_EQ(a.y3, 112 + 90);
    EXPECT_EQ(a.pen, (Pen{{0, 130, 65}, 5, PenStyle::Solid}));
}

TEST(DialGaugeZones, EmptyOrZeroEndedZonesAreNotDrawnAndZonesKeepTheirPlaceOnRangeChange) {
    DialGauge g = layoutDial();
    g.setZone(-300, 0, 1, 1);  // upper boundary at scale degree 0
    RecordingSurface s;
    g.drawFace(s, 0);
    EXPECT_TRUE(s.callsOf(DrawOp::Arc).empty());

    g.setZone(0, 1500, 1, 1);
    g.setZone(1500, 1500, 2, 4);  // empty zone 2
    g.setZone(1500, 3000, 5, 4);  // no such zone
    g.setRange(0, 6000);
    RecordingSurface t;
    g.drawFace(t, 0);
    const std::vector<DrawCall> arcs = t.callsOf(DrawOp::Arc);
    ASSERT_EQ(arcs.size(), 1u);
    EXPECT_EQ(arcs[0].x2, 180);        // still at 12 o'clock, not moved to the new range
    EXPECT_EQ(arcs[0].y2, 112 - 104);  // cos of 3.14159 is just above -1
    EXPECT_EQ(arcs[0].pen.colour, paletteColor(1));
    EXPECT_DOUBLE_EQ(g.zoneBoundary(2), 150);
}

TEST(DialGaugeFace, TitlesInsideOrInABoxAbove) {
    DialGauge g = layoutDial();
    g.setTitles("ENGINE", "SPEED", true, 5);
    g.setUnits("RPM");
    RecordingSurface s;
    g.drawFace(s, 0);
    ASSERT_TRUE(s.hasText("ENGINE"));
    const DrawCall t1 = s.textCalls("ENGINE")[0];
    const DrawCall t2 = s.textCalls("SPEED")[0];
    EXPECT_EQ(t1.x0, 180);
    EXPECT_EQ(t1.y0, 56);
    EXPECT_EQ(t2.y0, 72);
    EXPECT_EQ(t1.textColour, paletteColor(5));
    EXPECT_EQ(t1.align, (TextAlign{HAlign::Centre, VAlign::Top}));
    const DrawCall units = s.textCalls("RPM")[0];
    EXPECT_EQ(units.x0, 180);
    EXPECT_EQ(units.y0, 112 + 80);  // trunc(112 + 0.36 x 224)
    EXPECT_TRUE(s.callsOf(DrawOp::Rectangle).empty());

    g.setTitles("ENGINE", "SPEED", false, 11);
    RecordingSurface o;
    g.drawFace(o, 0);
    EXPECT_FALSE(o.hasText("SPEED"));
    const std::vector<DrawCall> box = o.callsOf(DrawOp::Rectangle);
    ASSERT_EQ(box.size(), 1u);
    EXPECT_EQ(box[0].x0, 68);
    EXPECT_EQ(box[0].y0, -2);
    EXPECT_EQ(box[0].x1, 292);
    EXPECT_EQ(box[0].y1, -20);
    EXPECT_EQ(box[0].brush, kBlackBrush);
    const DrawCall title = o.textCalls("ENGINE")[0];
    EXPECT_EQ(title.y0, -5);
    EXPECT_EQ(title.align, (TextAlign{HAlign::Centre, VAlign::Bottom}));
    EXPECT_EQ(title.textColour, paletteColor(11));
}

TEST(DialGaugeSetters, RefuseOverLongTextsAndEmptyOrInvertedRanges) {
    DialGauge g;
    g.setTitles("SHORT", "A second line of thirty chars.", true, 5);
    EXPECT_EQ(g.title1(), "SHORT");
    EXPECT_EQ(g.title2(), "Gauge2");
    g.setTitles("exactly twenty-four char", "twenty-five characters!!!", true, 5);
    EXPECT_EQ(g.title1(), "exactly twenty-four char");
    EXPECT_EQ(g.title2(), "Gauge2");
    g.setUnits("fifteen chars!!");
    EXPECT_EQ(g.units(), "Units");
    g.setUnits("fourteen chars");
    EXPECT_EQ(g.units(), "fourteen chars");
    g.setUnits("%%");
    EXPECT_EQ(g.units(), "%");
    g.setUnits("%s%n");  // taken as typed, never as a conversion
    EXPECT_EQ(g.units(), "%s%n");

    g.setRange(5, 5);
    g.setRange(10, 0);
    EXPECT_EQ(g.rangeMin(), 0);
    EXPECT_EQ(g.rangeMax(), 300);
    g.setRange(-1, 1);
    EXPECT_EQ(g.rangeMin(), -1);
}

}  // namespace
}  // namespace kvx
