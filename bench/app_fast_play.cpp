// Fast play (>>) of one hour's log file through the real window on the offscreen platform:
// records stepped per second and the process's CPU share of one core while it plays, the
// figures that say whether a slow laptop keeps up with 200 records a second.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "log/log_file_name.h"
#include "log/log_writer.h"
#include "resources/resource_ids.h"
#include "tests/support/fake_link.h"
#include "ui/scripted_prompts.h"

namespace {

namespace fs = std::filesystem;

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void BM_FastPlayThroughTheWindow(benchmark::State& state) {
    static int argc = 3;
    static char a0[] = "bench", a1[] = "-platform", a2[] = "offscreen";
    static char* argv[] = {a0, a1, a2, nullptr};
    static QApplication app(argc, argv);

    const fs::path dir = fs::temp_directory_path() / "kvx_fast_play_bench";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const kvx::LocalDateTime at{2014, 5, 24, 13, 0, 0, 0, 0};
    {
        kvx::LogWriter writer(dir.string(), [at] { return at; });
        writer.openLogFile(kvx::LogWriter::kRequestHeader, 117);
        kvx::LogRecord r;
        for (int n = 0; n < 18000; ++n) {  // one hour at five polls a second
            r.time = 1400936400 + n / 5;
            for (int i = 0; i < kvx::kLogValueCount; ++i)
                r.values[static_cast<std::size_t>(i)] =
                    static_cast<std::int16_t>((n * 7 + i * 13) % 1000);
            writer.appendLogRecord(r);
        }
        writer.closeLogFile();
    }

    kvx::test::FakeLink link;
    kvx::test::ScriptedPrompts prompts;
    prompts.fileAnswers.push_back(kvx::logFilePath(dir.string(), at));
    kvx::WindowParams p;
    p.programDir = dir.string() + "/";
    p.link = &link;
    p.prompts = &prompts;
    p.terminate = [](int) {};
    kvx::MainWindow window(p);
    window.setGeometry(0, 0, 1920, 1080);
    window.show();

    const int seconds = static_cast<int>(state.range(0));
    double stepped = 0, cpuShare = 0, paints = 0;
    for (auto _ : state) {
        QTimer::singleShot(50, [&] {
            QWidget* d = QApplication::activeModalWidget();
            if (!d) return;
            auto press = [d](int id) {
                if (auto* b = d->findChild<QPushButton*>(QString::number(id))) b->click();
            };
            press(kvx::res::kPlaybackOpenFile);
            spin(500);
            const int from = window.player().playbackPosition();
            const int paintsBefore = window.paintCount();
            const double cpu0 = cpuSeconds();
            QElapsedTimer wall;
            wall.start();
            press(kvx::res::kPlaybackFastForward);
            spin(seconds * 1000);
            const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
            stepped = (window.player().playbackPosition() - from) / elapsed;
            paints = (window.paintCount() - paintsBefore) / elapsed;
            cpuShare = (cpuSeconds() - cpu0) / elapsed;
            state.SetIterationTime(elapsed);
            press(kvx::res::kPlaybackPause);
            press(2);  // Close
            if (auto* dialog = qobject_cast<QDialog*>(d)) dialog->reject();
        });
        window.onCommand(kvx::res::kCmdPlayback);
    }
    state.counters["records_per_s"] = stepped;
    state.counters["paints_per_s"] = paints;
    state.counters["cpu_share"] = cpuShare;
    fs::remove_all(dir);
}
BENCHMARK(BM_FastPlayThroughTheWindow)
    ->Arg(10)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
