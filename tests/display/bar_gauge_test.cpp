#include "display/bar_gauge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/client_size.h"
#include "display/palette.h"
#include "display/recording_surface.h"

namespace kvx {
namespace {

constexpr int kAw = 7;  // the recording surface's average character width

// A pressure bar of a 1000 x 700 client: left 250, top 259, 504 wide after the 8-pixel snap.
BarGauge pressureBar() {
    BarGauge b;
    b.setSize(ClientSize{1000, 700});
    b.setSizeFractions(51, 2);
    b.setPosition(25, 37);
    b.setRange(-8, 24);
    return b;
}

std::vector<DrawCall> rectanglesIn(const RecordingSurface& s, Rgb penColour) {
    std::vector<DrawCall> out;
    for (const DrawCall& c : s.callsOf(DrawOp::Rectangle))
        if (c.pen.colour == penColour) out.push_back(c);
    return out;
}

TEST(BarGaugeGeometry, SetSizeUsesTheFractionsAndRecomputesSnapTheWidthToEightPixels) {
    BarGauge b;
    b.setSizeFractions(51, 2);  // no client size yet: stored, nothing placed
    b.setPosition(25, 37);
    EXPECT_EQ(b.right(), 0);
    ASSERT_TRUE(b.setSize(ClientSize{1000, 700}));
    EXPECT_EQ(b.left(), 250);
    EXPECT_EQ(b.top(), 259);
    EXPECT_EQ(b.right(), 250 + 510);
    EXPECT_EQ(b.bottom(), 259 + 14);

    b.setPosition(25, 37);  // now the width is snapped: trunc(510 / 8) x 8
    EXPECT_EQ(b.right(), 250 + 504);

    EXPECT_FALSE(b.setSize(ClientSize{0, 700}));
    EXPECT_FALSE(b.setSize(ClientSize{1000, 0}));
    EXPECT_EQ(b.right(), 250 + 504);
}

TEST(BarGaugeDraw, ValueBelowTheMinimumShowsItsNumberAndLeavesTheTroughEmpty) {
    const BarGauge b = pressureBar();
    RecordingSurface s;
    b.draw(-10, s, 13, 2, 1);
    EXPECT_TRUE(s.hasText("-10.00"));
    const std::vector<DrawCall> rects = s.callsOf(DrawOp::Rectangle);
    ASSERT_EQ(rects.size(), 1u);  // the trough only: nothing to fill at the left edge
    EXPECT_EQ(rects[0].x0, 250);
    EXPECT_EQ(rects[0].x1, 754);
    EXPECT_EQ(rects[0].brush, (Brush{{230, 242, 242}, false}));
    EXPECT_EQ(rects[0].pen, kBlackPen);
}

TEST(BarGaugeDraw, FillEndsAtTheValueAndAValueAboveTheMaximumFillsTheTrough) {
    const BarGauge b = pressureBar();
    struct Case {
        double value;
        int end;
        const char* text;
    };
    const Case cases[] = {{8, 250 + 252, "8.00"}, {24, 754, "24.00"}, {99.5, 754, "99.50"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        RecordingSurface s;
        b.draw(c.value, s, 13, 2, 1);
        const std::vector<DrawCall> fill = rectanglesIn(s, paletteColor(13));
        ASSERT_EQ(fill.size(), 1u);
        EXPECT_EQ(fill[0].x0, 251);
        EXPECT_EQ(fill[0].y0, 260);
        EXPECT_EQ(fill[0].x1, c.end);
        EXPECT_EQ(fill[0].y1, 272);
        EXPECT_EQ(fill[0].brush.colour, paletteColor(13));
        EXPECT_TRUE(s.hasText(c.text));
        // The fill is drawn over the trough, not under it.
        EXPECT_EQ(s.callsOf(DrawOp::Rectangle).back().pen.colour, paletteColor(13));
    }
}

TEST(BarGaugeDraw, CaptionValueAndUnitsSitBesideTheBar) {
    BarGauge b = pressureBar();
    b.setTitle("PRESSURE SET-POINT ");
    b.setUnits("in. W.C.");
    b.setValueColour(5);
    b.setCaptionColour(12);
    RecordingSurface s;
    b.draw(3.14159, s, 13, 3, 1);
    const DrawCall caption = s.textCalls("PRESSURE SET-POINT ").at(0);
    EXPECT_EQ(caption.x0, 250 - kAw - 155);
    EXPECT_EQ(caption.y0, 273);
    EXPECT_EQ(caption.align, (TextAlign{HAlign::Left, VAlign::Bottom}));
    EXPECT_EQ(caption.textColour, paletteColor(12));
    EXPECT_TRUE(caption.transparent);
    const DrawCall value = s.textCalls("3.142").at(0);
    EXPECT_EQ(value.x0, 754 + kAw);
    EXPECT_EQ(value.textColour, paletteColor(5));
    const DrawCall units = s.textCalls("in. W.C.").at(0);
    EXPECT_EQ(units.x0, 754 + 8 * kAw);
    EXPECT_EQ(units.y0, 273);
    EXPECT_EQ(units.textColour, paletteColor(12));
}

TEST(BarGaugeDraw, ScaleHasElevenTicksWithNumbersOrNothingWhenHidden) {
    BarGauge b = pressureBar();
    RecordingSurface s;
    b.draw(0, s, 13, 2, 1);
    const char* decimals[] = {"-8.0", "-4.8", "-1.6", "1.6",  "4.8", "8.0",
                              "11.2", "14.4", "17.6", "20.8", "24.0"};
    for (const char* t : decimals)
        EXPECT_TRUE(s.hasText(t)) << t;
    int ticks = 0;
    for (const DrawCall& l : s.callsOf(DrawOp::Line)) {
        if (l.y0 != 259 - 2) continue;
        EXPECT_EQ(l.y1, 259 - 6);
        EXPECT_EQ(l.x0, 250 + ticks * 50);  // (754 - 250) / 10 = 50
        ++ticks;
    }
    EXPECT_EQ(ticks, 11);
    const DrawCall last = s.textCalls("24.0").at(0);
    EXPECT_EQ(last.x0, 750);
    EXPECT_EQ(last.y0, 253);
    EXPECT_EQ(last.align, (TextAlign{HAlign::Centre, VAlign::Bottom}));

    b.setRange(0, 4000);
    RecordingSurface i;
    b.draw(1234.9, i, 1, 0, 0);
    EXPECT_TRUE(i.hasText("400"));
    EXPECT_TRUE(i.hasText("4000"));
    EXPECT_TRUE(i.hasText("1234"));

    b.showScale(false);
    RecordingSurface h;
    b.draw(0, h, 1, 0, 0);
    EXPECT_TRUE(h.callsOf(DrawOp::Line).empty());
    EXPECT_FALSE(h.hasText("4000"));
}

TEST(BarGaugeLimits, MarkersAboveTheMinimumAreDrawnAndBadSlotsRefused) {
    BarGauge b = pressureBar();
    b.showScale(false);
    EXPECT_TRUE(b.setLimit(0.0, 0, 10));
    EXPECT_TRUE(b.setLimit(-8.0, 1, 1));  // at the minimum: not drawn
    EXPECT_FALSE(b.setLimit(5.0, 4, 1));
    EXPECT_FALSE(b.setLimit(5.0, -1, 1));
    RecordingSurface s;
    b.draw(0, s, 13, 2, 1);
    // Slots 2 and 3 keep their default 0.0, which lies above this minimum, so they mark zero
    // as well; slot 1 at the minimum is left out.
    const std::vector<DrawCall> lines = s.callsOf(DrawOp::Line);
    ASSERT_EQ(lines.size(), 3u);
    for (const DrawCall& l : lines) {
        EXPECT_EQ(l.x0, 250 + 126);
        EXPECT_EQ(l.x1, 250 + 126);
        EXPECT_EQ(l.y0, 259 - 7);
        EXPECT_EQ(l.y1, 273 + 7);
        EXPECT_EQ(l.pen.colour, paletteColor(10));
    }

    b.setRange(1, 24);  // now no slot lies above the minimum
    RecordingSurface t;
    b.draw(0, t, 13, 2, 1);
    EXPECT_TRUE(t.callsOf(DrawOp::Line).empty());
}

TEST(BarGaugeSetters, RefuseOverLongTextsAndInvertedRanges) {
    BarGauge b;
    b.setTitle("a caption of twenty-five!");
    EXPECT_EQ(b.caption(), "Bar");
    b.setTitle("caption of twenty-four!!");
    EXPECT_EQ(b.caption(), "caption of twenty-four!!");
    b.setUnits("fifteen chars!!");
    EXPECT_EQ(b.units(), "Units");
    b.setUnits("100%%");
    EXPECT_EQ(b.units(), "100%");
    b.setRange(10, 10);
    b.setRange(10, -10);
    EXPECT_EQ(b.rangeMin(), 0);
    EXPECT_EQ(b.rangeMax(), 1000);
}

}  // namespace
}  // namespace kvx
