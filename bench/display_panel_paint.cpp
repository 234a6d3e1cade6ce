// A whole panel paint as the window does it, five times a second: a fresh off-screen surface,
// three dials, six bars, the chart full to capacity and the text lines.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cmath>
#include <cstdlib>

#include "display/layered_qt_surface.h"
#include "display/panel.h"
#include "display/qt_surface.h"
#include "display/recording_surface.h"

namespace {

using namespace kvx;

void ensureGuiApp() {
    if (QGuiApplication::instance()) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "display_bench";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

std::time_t benchClock() {
    return 1700000000;
}

struct Scene {
    LiveData live;
    InputImage image;
    LiveStatus status;
    DisplayRanges ranges;
    Panel panel;
    int width, height;

    Scene(int w, int h) : width(w), height(h) {
        ranges.pressureMin = -8;
        ranges.pressureMax = 24;
        ranges.vibrationMax = 1.0;
        panel.onCreate(ranges);
        panel.chart().setClock(benchClock);
        panel.onSize(w, h);
        // Fill the chart to capacity with moving values, recording as live paints do.
        RecordingSurface scratch;
        for (int i = 0; i < panel.chart().capacity() + 1; ++i) {
            move(i);
            scratch.clearCalls();
            panel.onPaint(scratch, w, h, inputs(false));
        }
        // From here on paints are playback paints (inputs(true)): they leave the chart as it
        // is, so every run draws it full.
    }
    void move(int i) {
        live.engine_speed = static_cast<int>(1500 + 400 * std::sin(i * 0.03));
        live.engine_load = static_cast<int>(2000 + 900 * std::sin(i * 0.02));
        live.diesel_flow = static_cast<int>(400 + 200 * std::cos(i * 0.05));
        live.pressure_fdbk_left = static_cast<int>(800 + 300 * std::sin(i * 0.1));
        live.pressure_sp_left = 800;
        live.actuator_left = static_cast<int>(2000 + 1000 * std::sin(i * 0.07));
        live.vibration = static_cast<int>(300 + 200 * std::sin(i * 0.3));
        live.exhaust_temp = 700 + i % 100;
    }
    PanelInputs inputs(bool playback) const {
        return PanelInputs{live, image, status, ranges, 1, false, playback};
    }
};

void BM_PanelPaintQt(benchmark::State& state) {
    ensureGuiApp();
    Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        QtSurface surface(scene.width, scene.height);
        scene.panel.onPaint(surface, scene.width, scene.height, scene.inputs(true));
        benchmark::DoNotOptimize(surface.pixel(0, 0));
    }
    state.counters["capacity"] = scene.panel.chart().capacity();
}
BENCHMARK(BM_PanelPaintQt)->Args({1920, 1080})->Args({1280, 960})->Unit(benchmark::kMillisecond);

// The same paint on one surface kept between paints, as the window keeps it.
void BM_PanelPaintQtReused(benchmark::State& state) {
    ensureGuiApp();
    Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    QtSurface surface(scene.width, scene.height);
    for (auto _ : state) {
        surface.reset();
        scene.panel.onPaint(surface, scene.width, scene.height, scene.inputs(true));
        benchmark::DoNotOptimize(surface.pixel(0, 0));
    }
}
BENCHMARK(BM_PanelPaintQtReused)
    ->Args({1920, 1080})
    ->Args({1280, 960})
    ->Unit(benchmark::kMillisecond);

// What the layered surface did over the run: how often it drew from its kept layer, rebuilt it,
// drew call by call, and moved a changing item off the layer.
void reportCounts(benchmark::State& state, const LayeredQtSurface& surface) {
    const LayeredQtSurface::Counts n = surface.counts();
    state.counters["fromLayer"] = n.fromLayer;
    state.counters["layerBuilds"] = n.layerBuilds;
    state.counters["callByCall"] = n.callByCall;
    state.counters["movedOffLayer"] = n.movedOffLayer;
}

// The window's surface, which keeps the fixed parts as a layer: range(2) 1 draws over the kept
// layer (the window's paint), 0 draws every call as a plain QtSurface (the paint without it).
void BM_PanelPaintLayered(benchmark::State& state) {
    ensureGuiApp();
    Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    LayeredQtSurface surface(scene.width, scene.height);
    surface.setLayerEnabled(state.range(2) != 0);
    for (auto _ : state) {
        surface.reset();
        scene.panel.onPaint(surface, scene.width, scene.height, scene.inputs(true));
        benchmark::DoNotOptimize(surface.pixel(0, 0));
    }
    reportCounts(state, surface);
}
BENCHMARK(BM_PanelPaintLayered)
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 0})
    ->Args({1280, 960, 1})
    ->Unit(benchmark::kMillisecond);

// A live paint: the chart moves on one sample and the values change every time, as polling
// and fast play do.
void BM_PanelPaintLayeredLive(benchmark::State& state) {
    ensureGuiApp();
    Scene scene(1920, 1080);
    LayeredQtSurface surface(scene.width, scene.height);
    surface.setLayerEnabled(state.range(0) != 0);
    int i = 0;
    for (auto _ : state) {
        scene.move(i++);
        surface.reset();
        scene.panel.onPaint(surface, scene.width, scene.height, scene.inputs(false));
        benchmark::DoNotOptimize(surface.pixel(0, 0));
    }
    reportCounts(state, surface);
}
BENCHMARK(BM_PanelPaintLayeredLive)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// A playback step as fast play makes it: the chart stays full and still, the cursor moves on one
// position and the values change with the record.
void BM_PanelPaintLayeredPlaybackStep(benchmark::State& state) {
    ensureGuiApp();
    Scene scene(1920, 1080);
    LayeredQtSurface surface(scene.width, scene.height);
    TrendChart& chart = scene.panel.chart();
    int i = 0;
    for (auto _ : state) {
        scene.move(i);
        chart.setDisplayIndex(1 + i % chart.capacity());
        ++i;
        surface.reset();
        scene.panel.onPaint(surface, scene.width, scene.height, scene.inputs(true));
        benchmark::DoNotOptimize(surface.pixel(0, 0));
    }
    reportCounts(state, surface);
}
BENCHMARK(BM_PanelPaintLayeredPlaybackStep)->Unit(benchmark::kMillisecond);

// The widgets' own work without rasterising: what the paint costs beyond Qt.
void BM_PanelPaintRecording(benchmark::State& state) {
    Scene scene(1920, 1080);
    RecordingSurface surface;
    for (auto _ : state) {
        surface.clearCalls();
        scene.panel.onPaint(surface, scene.width, scene.height, scene.inputs(true));
        benchmark::DoNotOptimize(surface.calls().size());
    }
    state.counters["calls"] = static_cast<double>(surface.calls().size());
}
BENCHMARK(BM_PanelPaintRecording)->Unit(benchmark::kMillisecond);

}  // namespace
