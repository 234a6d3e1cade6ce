#include "display/qt_surface.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <string>
#include <vector>

#include "qt_test_app.h"

namespace kvx {
namespace {

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kRed{255, 0, 0};

bool dark(Rgb c) {
    return c.r + c.g + c.b < 3 * 128;
}

class QtSurfaceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ensureGuiApp(); }
};

// The rows (or columns) that hold any dark pixel inside a region.
struct Extent {
    int first = -1, last = -1;
};
Extent darkRows(QtSurface& s, int x0, int x1, int y0, int y1) {
    Extent e;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (dark(s.pixel(x, y))) {
                if (e.first < 0) e.first = y;
                e.last = y;
            }
    return e;
}
Extent darkColumns(QtSurface& s, int x0, int x1, int y0, int y1) {
    Extent e;
    for (int x = x0; x < x1; ++x)
        for (int y = y0; y < y1; ++y)
            if (dark(s.pixel(x, y))) {
                if (e.first < 0) e.first = x;
                e.last = x;
                break;
            }
    return e;
}

TEST_F(QtSurfaceTest, RectangleFillsAndOutlinesUpToButNotIncludingRightAndBottom) {
    QtSurface s(40, 40);
    s.setPen(kBlackPen);
    s.setBrush(Brush{kRed, false});
    s.rectangle(20, 20, 10, 10);  // corners in either order
    EXPECT_EQ(s.pixel(10, 10), kBlack);
    EXPECT_EQ(s.pixel(19, 19), kBlack);
    EXPECT_EQ(s.pixel(19, 14), kBlack);
    EXPECT_EQ(s.pixel(15, 15), kRed);
    EXPECT_EQ(s.pixel(18, 18), kRed);
    EXPECT_EQ(s.pixel(20, 15), kWhite);
    EXPECT_EQ(s.pixel(15, 20), kWhite);
    EXPECT_EQ(s.pixel(20, 20), kWhite);
    EXPECT_EQ(s.pixel(9, 9), kWhite);
}

TEST_F(QtSurfaceTest, StraightLinesLeaveOutTheirEndPoint) {
    QtSurface s(40, 40);
    s.setPen(kBlackPen);
    s.moveTo(5, 5);
    s.lineTo(15, 5);
    EXPECT_EQ(s.pixel(5, 5), kBlack);
    EXPECT_EQ(s.pixel(14, 5), kBlack);
    EXPECT_EQ(s.pixel(15, 5), kWhite);
    s.lineTo(15, 25);  // continues from the current position
    EXPECT_EQ(s.pixel(15, 6), kBlack);
    EXPECT_EQ(s.pixel(15, 24), kBlack);
    EXPECT_EQ(s.pixel(15, 25), kWhite);
    s.moveTo(30, 30);
    s.lineTo(20, 30);  // leftward: the start is painted, the end is not
    EXPECT_EQ(s.pixel(30, 30), kBlack);
    EXPECT_EQ(s.pixel(21, 30), kBlack);
    EXPECT_EQ(s.pixel(20, 30), kWhite);
}

// The chart's traces go through polyline in one call; they must come out as the same lines
// drawn one by one, whatever the pen, and leave the current position at the last vertex.
TEST_F(QtSurfaceTest, APolylineDrawsTheSameLinesAsMoveToAndLineTo) {
    struct Case {
        const char* name;
        Pen pen;
        std::vector<Vertex> vertices;
    };
    const Pen thin{kRed, 1, PenStyle::Solid};
    const std::vector<Vertex> steps = {{2, 30},  {6, 30},  {6, 10},  {10, 10}, {10, 10},
                                       {14, 10}, {14, 35}, {18, 35}, {12, 35}, {12, 2}};
    const std::vector<Vertex> slanted = {{3, 3}, {30, 20}, {30, 5}, {5, 36}};
    const std::vector<Vertex> offSurface = {{-5, 20}, {45, 20}, {45, -3}, {20, -3}, {20, 50}};
    const Case cases[] = {
        {"thin steps", thin, steps},
        {"thin slanted", thin, slanted},
        {"thin past the edges", thin, offSurface},
        {"one vertex", thin, {{7, 7}}},
        {"wide steps", Pen{kRed, 3, PenStyle::Solid}, steps},
        {"dashed steps", Pen{kRed, 1, PenStyle::Dash}, steps},
        {"no pen", Pen{kRed, 1, PenStyle::None}, steps},
    };
    for (const Case& c : cases) {
        QtSurface once(40, 40), byLine(40, 40);
        once.setPen(c.pen);
        byLine.setPen(c.pen);
        once.polyline(c.vertices.data(), c.vertices.size());
        byLine.moveTo(c.vertices[0].x, c.vertices[0].y);
        for (std::size_t i = 1; i < c.vertices.size(); ++i)
            byLine.lineTo(c.vertices[i].x, c.vertices[i].y);
        // One more line from wherever each one ended.
        once.setPen(Pen{kBlack, 1, PenStyle::Solid});
        byLine.setPen(Pen{kBlack, 1, PenStyle::Solid});
        once.lineTo(39, 39);
        byLine.lineTo(39, 39);
        EXPECT_EQ(once.image(), byLine.image()) << c.name;
    }
}

TEST_F(QtSurfaceTest, TextAlignsByItsCellTopOrBottom) {
    QtSurface s(300, 200);
    s.setTextColour(kBlack);
    s.setTransparentBackground(true);
    const int h = s.textMetrics().height;

    s.setTextAlign({HAlign::Left, VAlign::Top});
    s.text(20, 50, "HHH");
    const Extent top = darkRows(s, 0, 150, 0, 200);
    EXPECT_GE(top.first, 50);
    EXPECT_LT(top.last, 50 + h);
    EXPECT_LE(top.first, 50 + h / 3);  // glyphs start near the top of the cell

    s.setTextAlign({HAlign::Left, VAlign::Bottom});
    s.text(170, 150, "HHH");
    const Extent bottom = darkRows(s, 150, 300, 0, 200);
    EXPECT_LT(bottom.last, 150);
    EXPECT_GE(bottom.first, 150 - h);
    EXPECT_GE(bottom.last, 150 - h / 2);  // a capital sits on the baseline near the bottom
}

TEST_F(QtSurfaceTest, TextAlignsHorizontallyOnItsReferencePoint) {
    QtSurface s(300, 120);
    s.setTextColour(kBlack);
    s.setTransparentBackground(true);

    s.setTextAlign({HAlign::Right, VAlign::Top});
    s.text(100, 10, "WIDE TEXT");
    const Extent right = darkColumns(s, 0, 300, 0, 40);
    EXPECT_LT(right.last, 100);
    EXPECT_GT(right.last, 90);

    s.setTextAlign({HAlign::Centre, VAlign::Top});
    s.text(150, 60, "WIDE TEXT");
    const Extent centre = darkColumns(s, 0, 300, 50, 100);
    EXPECT_NEAR((centre.first + centre.last) / 2.0, 150.0, 3.0);
}

TEST_F(QtSurfaceTest, OpaqueTextFillsItsCellAndTransparentTextDoesNot) {
    QtSurface s(200, 60);
    s.fillRect(0, 0, 200, 60, kWhite);
    s.setTextColour(kBlack);
    s.setBackgroundColour(kRed);
    s.text(10, 10, "A");  // a fresh surface draws opaque
    EXPECT_EQ(s.pixel(10, 10), kRed);
    s.setTransparentBackground(true);
    s.text(100, 10, "A");
    EXPECT_EQ(s.pixel(100, 10), kWhite);
}

TEST_F(QtSurfaceTest, ArcRunsCounterClockwiseFromStartToEnd) {
    QtSurface s(101, 101);
    s.setPen(Pen{kBlack, 3, PenStyle::Solid});
    // From 3 o'clock to 12 o'clock counter-clockwise: the upper-right quarter only.
    s.arc(100, 100, 0, 0, 100, 50, 50, 0);
    EXPECT_TRUE(dark(s.pixel(85, 15)));
    EXPECT_FALSE(dark(s.pixel(15, 15)));
    EXPECT_FALSE(dark(s.pixel(50, 98)));
    EXPECT_FALSE(dark(s.pixel(15, 85)));

    QtSurface t(101, 101);
    t.setPen(Pen{kBlack, 3, PenStyle::Solid});
    // The same two points the other way round: the other three quarters.
    t.arc(0, 0, 100, 100, 50, 0, 100, 50);
    EXPECT_FALSE(dark(t.pixel(85, 15)));
    EXPECT_TRUE(dark(t.pixel(15, 15)));
    EXPECT_TRUE(dark(t.pixel(50, 98)));
    EXPECT_TRUE(dark(t.pixel(85, 85)));
}

TEST_F(QtSurfaceTest, EllipseStaysInsideItsBox) {
    QtSurface s(60, 60);
    s.setPen(Pen{kBlack, 2, PenStyle::Solid});
    s.setBrush(Brush{kRed, false});
    s.ellipse(10, 10, 50, 50);
    EXPECT_EQ(s.pixel(30, 30), kRed);
    EXPECT_TRUE(dark(s.pixel(10, 30)));
    EXPECT_TRUE(dark(s.pixel(30, 49)));
    EXPECT_EQ(s.pixel(50, 30), kWhite);
    EXPECT_EQ(s.pixel(30, 50), kWhite);
    EXPECT_EQ(s.pixel(9, 30), kWhite);
}

TEST_F(QtSurfaceTest, FontsHaveTheCellSizesTheLayoutExpects) {
    QtSurface s(10, 10);
    const TextMetrics normal = s.textMetrics();
    EXPECT_GE(normal.height, 14);
    EXPECT_LE(normal.height, 18);
    EXPECT_GE(normal.averageWidth, 5);
    s.selectFont(FontChoice::Small);
    const TextMetrics small = s.textMetrics();
    // Narrow windows keep the line spacing and legend boxes of a 13 px cell; a smaller cell
    // leaves the legend's values on the boxes' bottom borders.
    EXPECT_GE(small.height, 13);
    EXPECT_LE(small.height, 14);
    EXPECT_LT(small.averageWidth, normal.averageWidth);
}

TEST_F(QtSurfaceTest, AReadOutFitsTheGapTheLayoutLeavesBeforeItsUnits) {
    // Bars and legends put the units seven average widths after a value such as "261.10".
    QtSurface s(200, 40);
    s.setTextColour(kBlack);
    s.setTransparentBackground(true);
    s.text(0, 5, "261.10");
    const Extent value = darkColumns(s, 0, 200, 0, 40);
    EXPECT_LT(value.last, 7 * s.textMetrics().averageWidth - 1);
}

// A window reuses one surface from paint to paint; after reset it must draw as a fresh one.
TEST_F(QtSurfaceTest, ResetDrawsAsAFreshSurface) {
    const auto scene = [](QtSurface& s) {
        s.fillRect(0, 0, 120, 60, Rgb{70, 140, 140});
        s.rectangle(5, 5, 40, 30);
        s.ellipse(45, 5, 80, 40);
        s.lineTo(110, 50);
        s.text(10, 35, "42.5 kW");
    };
    QtSurface fresh(120, 60);
    scene(fresh);

    QtSurface reused(120, 60);
    reused.setPen(Pen{kRed, 3, PenStyle::Dash});
    reused.setBrush(kNoBrush);
    reused.setTextColour(kRed);
    reused.setTextAlign({HAlign::Right, VAlign::Bottom});
    reused.setTransparentBackground(true);
    reused.setBackgroundColour(kBlack);
    reused.selectFont(FontChoice::Small);
    reused.moveTo(60, 10);
    reused.arc(0, 0, 50, 50, 50, 25, 0, 25);
    reused.reset();
    scene(reused);

    EXPECT_EQ(reused.image(), fresh.image());
}

TEST_F(QtSurfaceTest, SavesAPngThatLoadsBackAndReportsAnUnwritablePath) {
    QtSurface s(32, 16);
    s.fillRect(0, 0, 32, 16, kRed);
    const std::string path = ::testing::TempDir() + "qt_surface_test.png";
    ASSERT_TRUE(s.savePng(path));
    QImage back(QString::fromStdString(path));
    ASSERT_EQ(back.width(), 32);
    EXPECT_EQ(QColor(back.pixel(5, 5)), QColor(255, 0, 0));
    std::remove(path.c_str());
    EXPECT_FALSE(s.savePng("/nonexistent-dir/x.png"));
}

}  // namespace
}  // namespace kvx
