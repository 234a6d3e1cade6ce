// Polling's pace with the Traffic window open and closed: the real main window polls the
// simulated controller (9600-baud wire timing, on its pseudo-terminal) for a minute, once
// without the window and once with it open from the start, and the poll ticks a second are
// compared. The window reads the link's ring on its own timer on the same thread as the poll,
// so a window that cost the poll anything would show here as fewer ticks.
//
// Runs on the platform QT_QPA_PLATFORM names (xcb under an X server for the real picture,
// offscreen otherwise). KVX_TRAFFIC_BENCH_SECONDS shortens the minute for a quick look.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/traffic_window.h"
#include "link/rtu_device_link.h"
#include "resources/resource_ids.h"
#include "sim/sim_server.h"

namespace {

class QuietPrompts : public kvx::Prompts {
  public:
    int messageBox(const std::string&, const std::string&, kvx::BoxIcon, kvx::BoxButtons,
                   bool) override {
        return kvx::kAnswerOk;
    }
    std::string openFileName(const kvx::FileDialogRequest&) override { return {}; }
    std::string saveFileName(const kvx::FileDialogRequest&) override { return {}; }
};

QApplication& application() {
    static int argc = 1;
    static char name[] = "app_bench";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// The event loop runs for ms, as the program's does: timers, the poll, painting.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <class Predicate>
bool waitFor(Predicate done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        runFor(20);
    }
    return true;
}

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void BM_PollingWithTrafficWindow(benchmark::State& state) {
    const bool open = state.range(0) != 0;
    application();
    const char* given = std::getenv("KVX_TRAFFIC_BENCH_SECONDS");
    const int seconds = given ? std::max(1, std::atoi(given)) : 60;
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("kvx_traffic_bench_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);

    kvx::sim::SimServer sim;
    sim.setWireTiming(true);
    if (sim.start() != 0) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    std::filesystem::create_symlink(sim.devicePath(), dir / "COM5");
    kvx::RtuDeviceLink link(dir.string() + "/");
    QuietPrompts prompts;
    kvx::WindowParams params;
    params.programDir = dir.string() + "/";
    params.link = &link;
    params.prompts = &prompts;
    params.terminate = [](int) {};
    long ticks = 0, good = 0, lines = 0;
    double cpu = 0, elapsed = 0;
    for (auto _ : state) {
        kvx::MainWindow window(params);
        window.startUp();
        if (!waitFor([&] { return window.controller().state().goodTicks > 0; }, 10000)) {
            state.SkipWithError("the window did not poll the simulator");
            break;
        }
        if (open) window.onCommand(kvx::res::kCmdTraffic);
        runFor(500);  // settled: the window shown and its first reads done
        const long ticks0 = window.controller().state().counts.polls;
        const long good0 = window.controller().state().goodTicks;
        const double cpu0 = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        runFor(seconds * 1000);
        elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        cpu = cpuSeconds() - cpu0;
        ticks = window.controller().state().counts.polls - ticks0;
        good = window.controller().state().goodTicks - good0;
        if (open && window.trafficWindow()) lines = window.trafficWindow()->lines().rowCount();
        state.SetIterationTime(elapsed);
        window.shutDown();
    }
    state.counters["ticks_per_s"] = static_cast<double>(ticks) / elapsed;
    state.counters["good_per_s"] = static_cast<double>(good) / elapsed;
    state.counters["cpu_pct"] = 100.0 * cpu / elapsed;
    state.counters["lines_shown"] = static_cast<double>(lines);
    sim.stop();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PollingWithTrafficWindow)
    ->ArgName("traffic_open")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
