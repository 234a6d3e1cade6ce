// The log overview of a day: 24 hourly files of 18,000 records (a poll every 200 ms), drawn at
// 1920 x 1080 as the window and kvx-log plot draw it. First draw with no summary cache (every
// file read and summarised, the cache written), first draw from the cache files (a new process:
// nothing in memory), a redraw after a zoom (summaries in memory) at several view widths, and
// the cache's size against the logs'.
//
// "Cold" is cold for the overview: no summary exists yet. The log files themselves are in the
// operating system's page cache, as they are right after a copy from the unit or the archive.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "display/qt_surface.h"
#include "log/log_clock.h"
#include "log/log_file_name.h"
#include "log/log_format.h"
#include "overview/channel_table.h"
#include "overview/overview_plot.h"
#include "overview/overview_set.h"

namespace {

using namespace kvx;

constexpr int kFiles = 24;
constexpr int kRecordsPerFile = 18000;
constexpr int kWidth = 1920, kHeight = 1080;

void ensureGui() {
    if (QGuiApplication::instance()) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "overview_bench";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

std::string makeTemp(const char* what) {
    std::string pattern = std::string("/tmp/kvx_overview_bench_") + what + "_XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
}

struct Day {
    std::string folder;
    std::vector<std::string> paths;
    std::int64_t start = 0;
    std::uint64_t bytes = 0;
};

// Written once per run: an engine whose speed and load wander, with noise on every field.
const Day& day() {
    static const Day d = [] {
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
        Day day;
        day.folder = makeTemp("logs");
        day.start = 1796684400;  // 2026-12-08 00:00 local (CET)
        std::vector<std::uint8_t> bytes;
        std::uint32_t noise = 12345;
        for (int h = 0; h < kFiles; ++h) {
            LocalDateTime when;
            localDateTime(day.start + h * 3600, when);
            const std::string path = logFilePath(day.folder, when);
            const LogHeader header = makeLogHeader(113);
            bytes.assign(header.begin(), header.end());
            std::uint8_t one[kLogRecordSize];
            for (int n = 0; n < kRecordsPerFile; ++n) {
                LogRecord r;
                r.time = static_cast<std::int32_t>(day.start + h * 3600 + n / 5);
                const double x = (h * kRecordsPerFile + n) / 432000.0;
                for (int f = 0; f < kLogValueCount; ++f) {
                    noise = noise * 1103515245u + 12345u;
                    r.values[f] = static_cast<std::int32_t>(1000 * std::sin(x * 6.28 * (f + 1)) +
                                                            static_cast<int>(noise >> 24) - 128);
                }
                encodeLogRecord(r, one);
                bytes.insert(bytes.end(), one, one + sizeof one);
            }
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            day.paths.push_back(path);
            day.bytes += bytes.size();
        }
        return day;
    }();
    return d;
}

OverviewView dayView(double from, double to) {
    OverviewView view;
    view.from = from;
    view.to = to;
    view.fields = defaultOverviewFields();
    view.title = "KVX log, a day";
    return view;
}

std::uint64_t folderBytes(const std::string& folder) {
    std::uint64_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        n += e.file_size();
    return n;
}

// Summaries built from the logs (no cache file yet), the cache written, the day drawn.
void BM_FirstDrawCold(benchmark::State& state) {
    ensureGui();
    const Day& d = day();
    std::uint64_t cacheBytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string cacheFolder = makeTemp("cache");
        state.ResumeTiming();
        OverviewSet set(std::make_shared<OverviewCache>(cacheFolder));
        set.setFiles(d.paths);
        set.build();
        QtSurface surface(kWidth, kHeight);
        renderOverview(surface, kWidth, kHeight, set, dayView(set.firstTime(), set.endTime()));
        benchmark::DoNotOptimize(surface.image().constBits());
        state.PauseTiming();
        cacheBytes = folderBytes(cacheFolder);
        std::filesystem::remove_all(cacheFolder);
        state.ResumeTiming();
    }
    state.counters["log_MB"] = d.bytes / 1e6;
    state.counters["cache_kB"] = cacheBytes / 1e3;
    state.counters["cache_percent"] = 100.0 * cacheBytes / d.bytes;
}
BENCHMARK(BM_FirstDrawCold)->Unit(benchmark::kMillisecond)->UseRealTime();

// A later session: the cache files read (checked) instead of the logs, the day drawn.
void BM_FirstDrawFromCache(benchmark::State& state) {
    ensureGui();
    const Day& d = day();
    const std::string cacheFolder = makeTemp("cache");
    {
        OverviewSet warm(std::make_shared<OverviewCache>(cacheFolder));
        warm.setFiles(d.paths);
        warm.build();
    }
    for (auto _ : state) {
        OverviewSet set(std::make_shared<OverviewCache>(cacheFolder));
        set.setFiles(d.paths);
        set.build();
        QtSurface surface(kWidth, kHeight);
        renderOverview(surface, kWidth, kHeight, set, dayView(set.firstTime(), set.endTime()));
        benchmark::DoNotOptimize(surface.image().constBits());
    }
    std::filesystem::remove_all(cacheFolder);
}
BENCHMARK(BM_FirstDrawFromCache)->Unit(benchmark::kMillisecond)->UseRealTime();

// The window's redraw after a zoom to a view of range(0) seconds in the middle of the day: the
// reduction (from the summaries, or the records where the view is finer than a bucket) and the
// drawing, on a surface kept from paint to paint.
void BM_RedrawAfterZoom(benchmark::State& state) {
    ensureGui();
    const Day& d = day();
    OverviewSet set(std::make_shared<OverviewCache>(std::string()));
    set.setFiles(d.paths);
    set.build();
    const double seconds = static_cast<double>(state.range(0));
    const double centre = d.start + 13.5 * 3600 + 0.37;
    QtSurface surface(kWidth, kHeight);
    int shift = 0;
    for (auto _ : state) {
        // A slightly different view each time, as a wheel turn gives.
        const double from = centre - seconds / 2 + (shift++ % 7) * seconds / 100;
        surface.reset();
        renderOverview(surface, kWidth, kHeight, set, dayView(from, from + seconds));
        benchmark::DoNotOptimize(surface.image().constBits());
    }
}
BENCHMARK(BM_RedrawAfterZoom)
    ->Arg(86400)
    ->Arg(6 * 3600)
    ->Arg(3600)
    ->Arg(600)
    ->Arg(60)
    ->Arg(5)
    ->Unit(benchmark::kMillisecond);

// The reduction alone (what a hover or a strip change that keeps the view costs is less).
void BM_ReduceDay(benchmark::State& state) {
    const Day& d = day();
    OverviewSet set(std::make_shared<OverviewCache>(std::string()));
    set.setFiles(d.paths);
    set.build();
    for (auto _ : state) {
        const OverviewColumns c = set.reduce(set.firstTime(), set.endTime(), 1860);
        benchmark::DoNotOptimize(c.lows.data());
    }
}
BENCHMARK(BM_ReduceDay)->Unit(benchmark::kMillisecond);

}  // namespace
