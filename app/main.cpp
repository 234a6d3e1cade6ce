// orvik-kvx: the monitoring window of the Dravo controller.
#include <unistd.h>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/core/options.h"
#include "app/core/program_settings.h"
#include "app/core/simulator_session.h"
#include "app/main_window.h"
#include "app/run_stop_window.h"
#include "base/command_line.h"
#include "link/rtu_device_link.h"
#include "ui/qt_prompts.h"

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int sig) {
    const char c = static_cast<char>(sig);
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

// SIGUSR1 does what a person at the keyboard does once the line is back: answer the message
// box on screen with its default button, then press F12 (Connect). Unattended runs (the soak)
// use it where the program waits for the user; no other path reaches it.
void pressF12(QWidget& window) {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        if (QPushButton* button = box->defaultButton())
            button->click();
        else
            box->reject();
    }
    // Queued, so the box's own loop has ended before the key arrives.
    QTimer::singleShot(0, &window, [&window] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_F12, Qt::NoModifier);
        QApplication::sendEvent(&window, &press);
    });
}

// The window as a person sees it: menu bar, panel, status bar, with the run/stop window on
// top where it sits.
bool writeSnapshot(kvx::MainWindow& window, const std::string& path) {
    QPixmap picture = window.grab();
    if (auto* runStop = window.runStopWindow(); runStop && runStop->isVisible()) {
        QPainter p(&picture);
        p.drawPixmap(window.mapFromGlobal(runStop->pos()), runStop->grab());
    }
    return picture.save(QString::fromStdString(path), "PNG");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    kvx::Options options;
    std::string error;
    const int parsed = kvx::parseOptions(args, options, error);
    const std::string name = "orvik-kvx";
    if (parsed == kvx::kOptionsHelp) {
        std::fputs(kvx::usageText(name).c_str(), stdout);
        std::fputs(kvx::simulatorUsage().c_str(), stdout);
        return 0;
    }
    if (parsed == kvx::kOptionsVersion) return kvx::cli::printVersion(name);
    if (parsed != kvx::kOptionsOk) return kvx::cli::reportUsageError(name, error);
    if (options.simulate && !kvx::checkSimulatorOptions(options, error))
        return kvx::cli::reportUsageError(name, error);

    std::vector<char*> qtArgv;
    for (auto& a : options.qtArguments)
        qtArgv.push_back(a.data());
    int qtArgc = static_cast<int>(qtArgv.size());
    qtArgv.push_back(nullptr);
    QApplication app(qtArgc, qtArgv.data());

    const std::string programDir = kvx::programDirectory(options.dataDir.value_or(""));
    std::string overridePath;
    std::unique_ptr<kvx::SimulatorSession> simulator;
    if (options.simulate) {
        simulator = std::make_unique<kvx::SimulatorSession>();
        if (!simulator->start(options, error)) {
            std::fprintf(stderr, "%s: cannot start the simulator: %s\n", name.c_str(),
                         error.c_str());
            return 1;
        }
        overridePath = simulator->devicePath();
    }

    kvx::RtuDeviceLink link(programDir, overridePath);
    kvx::QtPrompts prompts;
    kvx::WindowParams params;
    params.programDir = programDir;
    params.link = &link;
    params.prompts = &prompts;
    kvx::MainWindow window(params);
    prompts.setMainWindow(&window);

    // A terminal's Ctrl+C or a TERM ends the program as --quit-after does, so no record that
    // was handed to the log writer is lost.
    bool quitting = false;
    int exitCode = 0;
    auto endCleanly = [&](bool snapshot) {
        if (quitting) return;
        quitting = true;
        if (snapshot && options.snapshotPath && !writeSnapshot(window, *options.snapshotPath)) {
            std::fprintf(stderr, "%s: cannot write %s\n", name.c_str(),
                         options.snapshotPath->c_str());
            exitCode = 1;
        }
        window.shutDown();
        app.exit(exitCode);
    };
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (::pipe(signalPipe) == 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [&] {
            char c = 0;
            [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
            if (c == SIGUSR1) {
                pressF12(window);
                return;
            }
            endCleanly(false);
        });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGUSR1, onSignal);
    }
    if (options.quitAfterSeconds) {
        const int ms = static_cast<int>(std::lround(*options.quitAfterSeconds * 1000.0));
        QTimer::singleShot(ms, &window, [&] { endCleanly(true); });
    }

    window.startUp();
    // Quitting inside the connecting dialog only ended the dialog's loop.
    const int code = quitting ? exitCode : app.exec();
    if (simulator) simulator->stop();
    return code;
}
