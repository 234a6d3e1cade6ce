// The player over one hour's file (18,000 records): a chunk reload (open, read, refill the
// chart) and fast play from the first record to the end, counted in records stepped per second.
// The chart is the panel's own, laid out for 1920 x 1080, so the chunks are as the window cuts
// them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "overview/trend_chart_feed.h"
#include "display/panel.h"
#include "display/recording_surface.h"
#include "log/log_player.h"
#include "log/log_writer.h"

namespace {

using namespace kvx;

constexpr int kHourRecords = 18000;

std::string hourFile() {
    static const std::string path = [] {
        std::string pattern = "/tmp/kvx_player_bench_XXXXXX";
        const std::string dir = mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
        LocalDateTime at;
        at.year = 2014;
        at.month = 5;
        at.day = 24;
        at.hour = 13;
        LogWriter writer(dir, [at] { return at; });
        writer.openLogFile(LogWriter::kRequestHeader, 113);
        for (int n = 0; n < kHourRecords; ++n) {
            LogRecord r;
            r.time = 1400936400 + n / 5;
            for (int i = 0; i < kLogValueCount; ++i)
                r.values[static_cast<std::size_t>(i)] = (n * 31 + i * 977) % 3000;
            writer.appendLogRecord(r);
        }
        const std::string p = writer.path();
        writer.closeLogFile();
        return p;
    }();
    return path;
}

struct Playback {
    LiveData live;
    InputImage image;
    LiveStatus status;
    DisplayRanges ranges;
    Panel panel;
    TrendChartFeed feed{panel.chart()};
    LogPlayer player{live, feed};

    Playback() {
        panel.onCreate(ranges);
        panel.onSize(1920, 1080);
        RecordingSurface layout;  // one paint lays the chart out
        panel.onPaint(layout, 1920, 1080, PanelInputs{live, image, status, ranges, 1, false, true});
        player.openFile(hourFile());
    }
};

void BM_ChunkReload(benchmark::State& state) {
    Playback p;
    const int cap = p.panel.chart().capacity();
    // Across a chunk boundary and back: every change is a reload.
    std::int32_t at = cap;
    for (auto _ : state) {
        if (p.player.changePosition(at) != 0) state.SkipWithError("reload failed");
        at = at == cap ? cap - 1 : cap;
    }
    state.counters["capacity"] = cap;
    state.counters["loads"] = static_cast<double>(p.player.chunkLoads());
}
BENCHMARK(BM_ChunkReload)->Unit(benchmark::kMicrosecond);

void BM_FastPlayOneHour(benchmark::State& state) {
    Playback p;
    std::int64_t steps = 0;
    for (auto _ : state) {
        p.player.changePosition(0);
        p.player.fastForward();
        while (p.player.timerMs() != 0) {
            p.player.tick();
            ++steps;
        }
    }
    state.SetItemsProcessed(steps);  // items per second = records stepped per second
    state.counters["records"] = kHourRecords;
}
BENCHMARK(BM_FastPlayOneHour)->Unit(benchmark::kMillisecond);

}  // namespace
