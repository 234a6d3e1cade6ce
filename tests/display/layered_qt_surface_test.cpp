#include "display/layered_qt_surface.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <functional>

#include "display/panel.h"
#include "display/qt_surface.h"
#include "qt_test_app.h"

namespace kvx {
namespace {

class LayeredQtSurfaceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ensureGuiApp(); }
};

std::time_t fixedClock() {
    return 1700000000;
}

int differingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return -1;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) ++n;
    return n;
}

// The window's panel fed as polling feeds it.
struct Scene {
    LiveData live;
    InputImage image;
    LiveStatus status;
    DisplayRanges ranges;
    Panel panel;
    int width, height;
    int bank = 1;
    bool zoomed = false;
    bool playback = false;

    Scene(int w, int h) : width(w), height(h) {
        ranges.pressureMin = -8;
        ranges.pressureMax = 24;
        ranges.vibrationMax = 1.0;
        panel.onCreate(ranges);
        panel.chart().setClock(fixedClock);
        panel.onSize(w, h);
    }
    void move(int i) {
        live.engine_speed = static_cast<int>(1500 + 1400 * std::sin(i * 0.3));
        live.engine_load = static_cast<int>(2000 + 1900 * std::sin(i * 0.2));
        live.diesel_flow = static_cast<int>(400 + 390 * std::cos(i * 0.5));
        live.pressure_fdbk_left = static_cast<int>(800 + 1600 * std::sin(i * 0.7));
        live.pressure_sp_left = 800 + 100 * (i % 3);
        live.actuator_left = static_cast<int>(2000 + 2000 * std::sin(i * 0.4));
        live.vibration = static_cast<int>(300 + 200 * std::sin(i * 0.9));
        live.exhaust_temp = 700 + i % 100;
        live.substitution_rate = i * 37 % 1000;
    }
    void paint(Surface& s) {
        panel.onPaint(s, width, height,
                      PanelInputs{live, image, status, ranges, bank, zoomed, playback});
    }
};

// The chart filled as the player fills it from a chunk of records; the values follow seed.
void fillChunk(Scene& s, int seed) {
    TrendChart& chart = s.panel.chart();
    chart.clear();
    for (int k = 0; k <= chart.capacity(); ++k) {
        chart.putTimeStamp(1700000000 + k / 5);
        for (int c = 0; c < TrendChart::kChannels; ++c)
            chart.addSample(50 + 40 * std::sin((k + seed) * 0.05 + c), c);
    }
}

// Two panels fed alike: one paints on the layered surface kept between paints, the other on a
// fresh QtSurface each time, as the window did before.
struct Twins {
    Scene kept, fresh;
    LayeredQtSurface layered;
    Twins(int w, int h) : kept(w, h), fresh(w, h), layered(w, h) {}
    template <typename F>
    void change(F f) {
        f(kept);
        f(fresh);
    }
    int paint() {
        QtSurface plain(fresh.width, fresh.height);
        layered.reset();
        kept.paint(layered);
        fresh.paint(plain);
        return differingPixels(layered.image(), plain.image());
    }
};

TEST_F(LayeredQtSurfaceTest, PaintsOverTheKeptLayerMatchAPlainSurfacePixelForPixel) {
    Twins t(1280, 960);
    for (int i = 0; i < 12; ++i) {
        t.change([i](Scene& s) { s.move(i); });
        ASSERT_EQ(t.paint(), 0) << "paint " << i;
    }
    const LayeredQtSurface::Counts n = t.layered.counts();
    EXPECT_EQ(n.layerBuilds, 2);  // the dial faces take the ranges from the second paint on
    EXPECT_EQ(n.fromLayer, 10);
    EXPECT_EQ(n.callByCall, 0);
}

TEST_F(LayeredQtSurfaceTest, ARangeZoomOrBankChangeRedrawsTheLayer) {
    Twins t(1280, 960);
    // After a change the layer is drawn anew, then used again from the next steady paint on.
    const auto settles = [&t](const char* what) {
        const int builds = t.layered.counts().layerBuilds;
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(t.paint(), 0) << what << ", paint " << i;
        EXPECT_GT(t.layered.counts().layerBuilds, builds) << what;
        const int settled = t.layered.counts().fromLayer;
        ASSERT_EQ(t.paint(), 0) << what;
        EXPECT_EQ(t.layered.counts().fromLayer, settled + 1) << what;
    };
    settles("start");
    t.change([](Scene& s) { s.ranges.pressureMax = 30; });
    settles("pressure range");
    t.change([](Scene& s) { s.ranges.speedMax = 2500; });
    settles("speed range");
    t.change([](Scene& s) { s.zoomed = true; });
    settles("zoom");
    t.change([](Scene& s) {
        s.zoomed = false;
        s.bank = 2;
    });
    settles("bank");
}

// Something fixed drawn over something that is not must stay on top of it.
TEST_F(LayeredQtSurfaceTest, AFixedCallOverAChangingOneIsDrawnInItsTurn) {
    const Rgb red{255, 0, 0}, blue{0, 0, 255}, grey{128, 128, 128};
    LayeredQtSurface s(60, 40);
    for (int fill = 10; fill <= 40; fill += 10) {
        s.reset();
        s.beginFixed();
        s.fillRect(0, 0, 60, 40, grey);
        s.endFixed();
        s.fillRect(0, 10, fill, 20, red);  // changes
        s.beginFixed();
        s.setPen(Pen{blue, 1, PenStyle::Solid});
        s.moveTo(25, 5);
        s.lineTo(25, 30);  // a limit line over the fill
        s.endFixed();
        EXPECT_EQ(s.pixel(25, 15), blue) << fill;
        EXPECT_EQ(s.pixel(fill - 1, 15), red) << fill;
        EXPECT_EQ(s.pixel(fill, 15), grey) << fill;
        EXPECT_EQ(s.pixel(24, 5), grey) << fill;
        EXPECT_EQ(s.counts().movedOffLayer, fill > 25 ? 1 : 0) << fill;
    }
}

// A value that reaches under a fixed call now and then (a legend's units after its value) must
// not rebuild the layer each time it comes and goes: the call stays drawn in its turn.
TEST_F(LayeredQtSurfaceTest, AFixedCallOnceOverAChangingOneStaysOffTheLayer) {
    const Rgb red{255, 0, 0}, blue{0, 0, 255}, grey{128, 128, 128};
    LayeredQtSurface s(60, 40);
    const int fills[] = {10, 30, 10, 40, 20, 30, 10};
    for (int fill : fills) {
        s.reset();
        s.beginFixed();
        s.fillRect(0, 0, 60, 40, grey);
        s.endFixed();
        s.fillRect(0, 10, fill, 20, red);
        s.beginFixed();
        s.setPen(Pen{blue, 1, PenStyle::Solid});
        s.moveTo(25, 5);
        s.lineTo(25, 30);
        s.endFixed();
        EXPECT_EQ(s.pixel(25, 15), blue) << fill;
        EXPECT_EQ(s.pixel(fill - 1, 15), red) << fill;
        EXPECT_EQ(s.pixel(fill, 15), grey) << fill;
        EXPECT_EQ(s.pixel(27, 15), fill > 27 ? red : grey) << fill;
    }
    // The first paint, and the one that first found the line above the fill.
    EXPECT_EQ(s.counts().layerBuilds, 2);
    EXPECT_EQ(s.counts().movedOffLayer, 1);
}

// What a paint drew outside the fixed parts is gone in the next one.
TEST_F(LayeredQtSurfaceTest, TheNextPaintTakesAwayWhatThePreviousOneDrewOverTheLayer) {
    const Rgb grey{128, 128, 128}, black{0, 0, 0};
    LayeredQtSurface s(100, 100);
    for (int x : {10, 90, 50}) {
        s.reset();
        s.beginFixed();
        s.fillRect(0, 0, 100, 100, grey);
        s.endFixed();
        s.setPen(Pen{black, 1, PenStyle::Solid});
        s.moveTo(x, 0);
        s.lineTo(x, 100);
        for (int c : {10, 50, 90})
            EXPECT_EQ(s.pixel(c, 60), c == x ? black : grey) << x << " " << c;
    }
    EXPECT_EQ(s.counts().layerBuilds, 1);
}

// Off, and after the picture was read within a paint, calls are drawn one by one.
TEST_F(LayeredQtSurfaceTest, DrawingAfterThePictureWasReadContinuesOnIt) {
    const Rgb grey{128, 128, 128}, red{255, 0, 0};
    LayeredQtSurface s(20, 20);
    s.beginFixed();
    s.fillRect(0, 0, 20, 20, grey);
    s.endFixed();
    EXPECT_EQ(s.pixel(5, 5), grey);
    s.fillRect(0, 0, 10, 10, red);
    s.beginFixed();
    s.fillRect(8, 8, 20, 20, grey);
    s.endFixed();
    EXPECT_EQ(s.pixel(5, 5), red);
    EXPECT_EQ(s.pixel(9, 9), grey);
    EXPECT_EQ(s.counts().callByCall, 1);
}

// A window copies to the screen only what changed() names: every pixel that differs from the
// previous picture must lie inside it. In playback the traces stand still while the cursor
// moves, so most of the plot is left out.
TEST_F(LayeredQtSurfaceTest, ChangedHoldsEveryPixelThatDiffersFromThePreviousPicture) {
    struct Step {
        const char* what;
        std::function<void(Scene&, int)> change;
        double mostChanged;  // of the picture's area, each paint
    };
    const Step steps[] = {
        {"live polls", [](Scene& s, int i) { s.move(i); }, 0.5},
        {"playback steps",
         [](Scene& s, int i) {
             if (i == 0) {
                 s.playback = true;
                 fillChunk(s, 0);
             }
             s.move(i);
             s.panel.chart().setDisplayIndex(1 + 7 * i);
         },
         0.2},
        {"a new chunk", [](Scene& s, int i) { fillChunk(s, 100 + i); }, 0.5},
        {"a new pressure range", [](Scene& s, int i) { s.ranges.pressureMax = 25 + i; }, 1.0},
    };
    Twins t(1280, 960);
    t.paint();
    QImage before = t.layered.image().copy();
    const int area = before.width() * before.height();
    int builds = t.layered.counts().layerBuilds;
    for (const Step& step : steps) {
        for (int i = 0; i < 4; ++i) {
            t.change([&](Scene& s) { step.change(s, i); });
            ASSERT_EQ(t.paint(), 0) << step.what << ", paint " << i;
            const QImage& now = t.layered.image();
            std::vector<bool> inside(static_cast<std::size_t>(area));
            for (const auto& b : t.layered.changed())
                for (int y = std::max(b.top, 0); y < std::min(b.bottom, now.height()); ++y)
                    for (int x = std::max(b.left, 0); x < std::min(b.right, now.width()); ++x)
                        inside[static_cast<std::size_t>(y * now.width() + x)] = true;
            int outside = 0;
            const auto changedArea = std::count(inside.begin(), inside.end(), true);
            for (int y = 0; y < now.height(); ++y)
                for (int x = 0; x < now.width(); ++x)
                    if (now.pixel(x, y) != before.pixel(x, y) &&
                        !inside[static_cast<std::size_t>(y * now.width() + x)])
                        ++outside;
            EXPECT_EQ(outside, 0) << step.what << ", paint " << i;
            // A new layer changes the whole picture; from the next paint on the steady part
            // stays out.
            if (t.layered.counts().layerBuilds == builds) {
                EXPECT_LE(static_cast<double>(changedArea), step.mostChanged * area)
                    << step.what << ", paint " << i;
            }
            builds = t.layered.counts().layerBuilds;
            before = now.copy();
        }
    }
}

}  // namespace
}  // namespace kvx
