#pragma once
// The main window on a real X server (Xvfb) with no window manager, driven through the
// server's own keyboard and mouse (xdotool) as a technician's hands would: what the tests here
// see is what real event sequences do, focus changes and press/release pairs included.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>
#include <string>

#include "app/main_window.h"
#include "app/panel_view.h"
#include "link/rtu_device_link.h"
#include "sim/sim_server.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {

namespace fs = std::filesystem;

inline constexpr int kScreenWidth = 1366;
inline constexpr int kScreenHeight = 768;

inline std::string findProgram(const char* name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return {};
}

// An X server of our own on a free display; stopped (only this one) when the run ends.
class XServerProcess {
  public:
    bool start(const std::string& program) {
        int fds[2];
        if (::pipe(fds) != 0) return false;
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const std::string screen =
                std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
            const int devnull = ::open("/dev/null", O_WRONLY);
            if (devnull >= 0) ::dup2(devnull, 2);
            ::execl(program.c_str(), program.c_str(), "-displayfd", fd.c_str(), "-screen", "0",
                    screen.c_str(), "-nolisten", "tcp", "-ac", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // The server writes its display number once it accepts connections.
        std::string number;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.empty()) return false;
        display_ = ":" + number;
        return true;
    }
    ~XServerProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// The outer size of a window as the X server has it.
inline bool serverGeometry(WId id, QRect& out) {
    QProcess p;
    p.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(id)});
    if (!p.waitForFinished(5000) || p.exitCode() != 0) return false;
    const QString text = QString::fromLocal8Bit(p.readAllStandardOutput());
    auto field = [&](const char* name) {
        const auto m = QRegularExpression(QString::fromUtf8(name) + QStringLiteral(":\\s+(-?\\d+)"))
                           .match(text);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    };
    out = QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                field("Height"));
    return true;
}

// The simulator on a pseudo-terminal as the program directory's COM5, and what a window needs
// to reach it.
class XServer : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = freshTestDir("kvx_x11_");
        recordWrites();
        ASSERT_EQ(sim.start(), 0);
        fs::create_symlink(sim.devicePath(), dir / "COM5");
        link = std::make_unique<RtuDeviceLink>(dir.string() + "/");
        p.programDir = dir.string() + "/";
        p.link = link.get();
        p.prompts = &prompts;
        p.replyTimeoutMs = 300;
        p.terminate = [](int) { ADD_FAILURE() << "the window ended the process"; };
    }
    // Every write request that reached the controller, as (function, first reference).
    void recordWrites() {
        sim.setReplyHook([this](const std::vector<std::uint8_t>& request,
                                const std::vector<std::uint8_t>&, sim::FaultKind) {
            if (request.size() < 4 || (request[1] != 6 && request[1] != 16)) return;
            std::lock_guard lock(writesMutex);
            writes.emplace_back(request[1], (request[2] << 8 | request[3]) + 1);
        });
    }
    std::vector<std::pair<int, int>> writesSoFar() {
        std::lock_guard lock(writesMutex);
        return writes;
    }
    std::int16_t holding(int ref) {
        return sim.withEngine([ref](sim::ControllerEngine& e) { return e.holding(ref); });
    }
    void TearDown() override {
        sim.stop();
        fs::remove_all(dir);
    }

    fs::path dir;
    sim::SimServer sim;
    std::unique_ptr<RtuDeviceLink> link;
    ScriptedPrompts prompts;
    WindowParams p;
    std::mutex writesMutex;
    std::vector<std::pair<int, int>> writes;
};

// Sends keys through the X server's own keyboard, as a technician's keyboard would.
inline bool xdotoolKey(const char* key) {
    return QProcess::execute(QStringLiteral("xdotool"),
                             {QStringLiteral("key"), QString::fromUtf8(key)}) == 0;
}

inline bool xdotool(const QStringList& args) {
    return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

// Types text through the keyboard, one key event pair per character.
inline bool xdotoolType(const QString& text) {
    return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
}

// Moves the pointer to the middle of the widget and clicks: press and release arrive at once,
// as a quick click does.
inline bool xdotoolClick(const QWidget* w) {
    const QPoint c = w->mapToGlobal(w->rect().center());
    return xdotool({QStringLiteral("mousemove"), QString::number(c.x()), QString::number(c.y()),
                    QStringLiteral("click"), QStringLiteral("1")});
}

// Makes the window the one the keyboard goes to (no window manager does it for us).
inline bool makeActive(QWidget* w) {
    if (!w->isActiveWindow()) w->activateWindow();
    return QTest::qWaitForWindowActive(w, 5000);
}

}  // namespace kvx::test
