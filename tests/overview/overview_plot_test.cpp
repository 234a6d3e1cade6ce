// The strip plot as drawn by Qt: no trace pixel inside a gap and an unbroken trace where
// records are close, at a day's width and at single records; every text inside the picture and
// clear of every other, whatever the size and range.
#include "overview/overview_plot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QImage>

#include "../display/qt_test_app.h"
#include "display/qt_surface.h"
#include "overview/channel_table.h"
#include "overview_test_support.h"

namespace kvx {
namespace {

using test::TempDir;

// Forwards to a QtSurface and keeps the box of every text as Qt measures it.
class MeasuringSurface : public Surface {
  public:
    MeasuringSurface(int w, int h) : q_(w, h) {}
    struct Box {
        std::string text;
        int left, top, right, bottom;
    };

    void setPen(const Pen& pen) override { q_.setPen(pen); }
    void setBrush(const Brush& brush) override { q_.setBrush(brush); }
    void setTextColour(Rgb colour) override { q_.setTextColour(colour); }
    void setTextAlign(TextAlign align) override {
        align_ = align;
        q_.setTextAlign(align);
    }
    void setTransparentBackground(bool t) override { q_.setTransparentBackground(t); }
    void setBackgroundColour(Rgb colour) override { q_.setBackgroundColour(colour); }
    void selectFont(FontChoice font) override {
        font_ = font;
        q_.selectFont(font);
    }
    TextMetrics textMetrics() const override { return q_.textMetrics(); }
    void fillRect(int l, int t, int r, int b, Rgb c) override { q_.fillRect(l, t, r, b, c); }
    void rectangle(int l, int t, int r, int b) override { q_.rectangle(l, t, r, b); }
    void ellipse(int l, int t, int r, int b) override { q_.ellipse(l, t, r, b); }
    void arc(int l, int t, int r, int b, int x0, int y0, int x1, int y1) override {
        q_.arc(l, t, r, b, x0, y0, x1, y1);
    }
    void moveTo(int x, int y) override { q_.moveTo(x, y); }
    void lineTo(int x, int y) override { q_.lineTo(x, y); }
    void text(int x, int y, std::string_view text) override {
        const int w = q_.textWidth(font_, text), h = q_.metricsOf(font_).height;
        const int left = align_.h == HAlign::Left     ? x
                         : align_.h == HAlign::Centre ? x - w / 2
                                                      : x - w;
        const int top = align_.v == VAlign::Top ? y : y - h;
        boxes.push_back({std::string(text), left, top, left + w, top + h});
        q_.text(x, y, text);
    }

    QtSurface& qt() { return q_; }
    std::vector<Box> boxes;

  private:
    QtSurface q_;
    TextAlign align_{};
    FontChoice font_ = FontChoice::Default;
};

class OverviewPlotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ensureGuiApp();
        test::useCentralEuropeanTime();
        h10_ = test::utc(2026, 12, 8, 9, 0, 0);
        // One record a second, the speed a slow ramp; 10:20-10:40 not logged.
        auto ramp = [](std::int64_t start, int seconds) {
            std::vector<LogRecord> r;
            for (int s = 0; s < seconds; ++s)
                r.push_back(test::recordAt(start + s,
                                           [s](int f) { return f == 15 ? 1000 + s % 600 : 50; }));
            return r;
        };
        std::vector<LogRecord> records = ramp(h10_, 1200);
        const std::vector<LogRecord> late = ramp(h10_ + 2400, 1200);
        records.insert(records.end(), late.begin(), late.end());
        const std::string path = dir_.file(test::logNameFor(h10_));
        test::writeBytes(path, test::logBytes(records));
        set_.setFiles({path});
        ASSERT_TRUE(set_.build());
    }

    // The pixels of the first strip's trace in each column: its colour is blue, and so are
    // the smoothed edges of its slanted lines, while the grid, frames and gaps are grey.
    std::vector<int> traceColumns(MeasuringSurface& s, const OverviewGeometry& g) {
        const QImage& image = s.qt().image();
        const Rgb c = overviewTraceColour(0);
        EXPECT_GT(c.b - c.r, 100);
        std::vector<int> counts(g.plotWidth(), 0);
        const OverviewStrip& strip = g.strips.at(0);
        for (int x = g.plotLeft; x < g.plotRight; ++x)
            for (int y = strip.top; y < strip.bottom; ++y) {
                const QRgb p = image.pixel(x, y);
                counts[x - g.plotLeft] += qBlue(p) - qRed(p) > 40;
            }
        return counts;
    }

    std::int64_t h10_ = 0;
    TempDir dir_;
    OverviewSet set_{std::make_shared<OverviewCache>(std::string())};
};

TEST_F(OverviewPlotTest, NoTraceCrossesAGapAndTheTraceIsUnbrokenElsewhere) {
    struct View {
        double from, to;        // seconds after 10:00
        double gapFrom, gapTo;  // no trace pixel strictly inside (empty: none)
    };
    const View views[] = {
        {0, 3600, 1200, 2400},     // the hour
        {1190, 1210, 1200, 1210},  // the last records before the gap, one by one
        {1500, 2000, 1500, 2000},  // inside the gap, records on both sides out of view
        {100, 110, 0, 0},          // ten records: lines between them, unbroken
    };
    for (const View& v : views) {
        SCOPED_TRACE("view " + std::to_string(v.from) + " to " + std::to_string(v.to));
        MeasuringSurface s(1200, 400);
        OverviewView view;
        view.from = h10_ + v.from;
        view.to = h10_ + v.to;
        view.fields = {15};
        const OverviewGeometry g = renderOverview(s, 1200, 400, set_, view);
        const std::vector<int> counts = traceColumns(s, g);
        for (int x = 0; x < g.plotWidth(); ++x) {
            const double t = g.timeAt(g.plotLeft + x) - h10_;
            const double tEnd = g.timeAt(g.plotLeft + x + 1) - h10_;
            const bool inGap = t > v.gapFrom && tEnd < v.gapTo;
            // Records up to the gap (or the view's end): a line from each to the next.
            const double dataEnd = v.gapTo > v.gapFrom ? v.gapFrom - 1 : v.to;
            if (inGap) {
                EXPECT_EQ(counts[x], 0) << "column " << x;
            } else if (tEnd <= dataEnd) {
                EXPECT_GT(counts[x], 0) << "column " << x;
            }
        }
    }
}

// The band above the strips marks an alarm in its row at the alarm's column, and the cursor is
// a line at its moment through band and strips.
TEST_F(OverviewPlotTest, TheBandMarksAlarmsWhereTheyAreAndTheCursorIsDrawnAtItsMoment) {
    std::vector<LogRecord> records =
        test::steadyRecords(h10_ + 7200, 3600, 1, [](int) { return 0; });
    records[1800].values[8] = 2;  // 12:30:00
    const std::string path = dir_.file(test::logNameFor(h10_ + 7200));
    test::writeBytes(path, test::logBytes(records));
    OverviewSet set(std::make_shared<OverviewCache>(std::string()));
    set.setFiles({path});
    ASSERT_TRUE(set.build());
    MeasuringSurface s(1000, 400);
    OverviewView view;
    view.from = h10_ + 7200;
    view.to = h10_ + 10800;
    view.fields = {15};
    view.showCursor = true;
    view.cursor = h10_ + 7200 + 900;  // 12:15
    const OverviewGeometry g = renderOverview(s, 1000, 400, set, view);
    const QImage& image = s.qt().image();
    const int alarmRow = g.bandTop + (g.bandBottom - g.bandTop) / 6;  // the first of three rows
    const int alarmX = g.xOf(h10_ + 7200 + 1800);
    const auto reddish = [](QRgb p) { return qRed(p) > 180 && qBlue(p) < 80; };
    for (int x = g.plotLeft; x < g.plotRight; ++x)
        EXPECT_EQ(reddish(image.pixel(x, alarmRow)), x == alarmX) << "column " << x;
    const int cursorX = g.xOf(view.cursor);
    const auto blue = [](QRgb p) { return qBlue(p) > 200 && qRed(p) < 60; };
    for (int y = g.strips[0].top; y < g.strips[0].bottom; y += 5)
        EXPECT_TRUE(blue(image.pixel(cursorX, y))) << "row " << y;
}

TEST_F(OverviewPlotTest, EveryTextIsInsideThePictureAndClearOfTheOthers) {
    std::vector<int> all;
    for (int f = 0; f < kLogValueCount; ++f)
        all.push_back(f);
    struct Case {
        int width, height;
        double from, to;  // seconds after 10:00
        std::vector<int> fields;
    };
    const Case cases[] = {
        {1920, 1080, 0, 3600, defaultOverviewFields()}, {640, 360, 0, 3600, {15, 2}},
        {800, 1400, -3600 * 12, 3600 * 14, all},       // across midnight: two dates
        {1000, 500, 100.2, 101.7, {15, 4, 19}},        // a second and a half
        {300, 200, 0, 3600, defaultOverviewFields()},  // too small for all strips
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        MeasuringSurface s(c.width, c.height);
        OverviewView view;
        view.from = h10_ + c.from;
        view.to = h10_ + c.to;
        view.fields = c.fields;
        view.title = "KVX log, a title of some length";
        const OverviewGeometry g = renderOverview(s, c.width, c.height, set_, view);
        EXPECT_FALSE(g.strips.empty());
        for (const OverviewStrip& strip : g.strips) {
            EXPECT_GE(strip.top, g.plotTop);
            EXPECT_LE(strip.bottom, g.axisTop);
        }
        ASSERT_FALSE(s.boxes.empty());
        for (std::size_t i = 0; i < s.boxes.size(); ++i) {
            const MeasuringSurface::Box& a = s.boxes[i];
            EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= c.width && a.bottom <= c.height)
                << "'" << a.text << "' at " << a.left << "," << a.top << ".." << a.right << ","
                << a.bottom;
            for (std::size_t j = i + 1; j < s.boxes.size(); ++j) {
                const MeasuringSurface::Box& b = s.boxes[j];
                const bool overlap =
                    a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
                EXPECT_FALSE(overlap) << "'" << a.text << "' and '" << b.text << "'";
            }
        }
    }
}

TEST_F(OverviewPlotTest, TheGeometryMapsColumnsToTimesAndRowsToStrips) {
    MeasuringSurface s(1000, 600);
    OverviewView view;
    view.from = h10_;
    view.to = h10_ + 3600;
    view.fields = {15, 2, 0};
    const OverviewGeometry g = renderOverview(s, 1000, 600, set_, view);
    ASSERT_EQ(g.strips.size(), 3u);
    for (int x = g.plotLeft; x < g.plotRight; x += 37) {
        EXPECT_EQ(g.xOf(g.timeAt(x)), x);
        EXPECT_EQ(g.xOf(g.timeAt(x) + 0.999 * 3600 / g.plotWidth()), x);
    }
    for (std::size_t i = 0; i < g.strips.size(); ++i) {
        const OverviewStrip& strip = g.strips[i];
        EXPECT_EQ(strip.field, view.fields[i]);
        EXPECT_EQ(g.stripAt(strip.top), static_cast<int>(i));
        EXPECT_EQ(g.stripAt(strip.bottom - 1), static_cast<int>(i));
        // The speed strip's scale holds its range, 1000 to 1599, with room to spare.
        if (i == 0) {
            EXPECT_LT(strip.low, 1000);
            EXPECT_GT(strip.high, 1599);
            EXPECT_NEAR(strip.valueAt(strip.yOf(1300)), 1300, (strip.high - strip.low) / 50);
        }
    }
    EXPECT_EQ(g.stripAt(g.strips[0].top - 1), -1);
}

}  // namespace
}  // namespace kvx
