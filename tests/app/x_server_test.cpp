// The main window on a real X server (Xvfb) with no window manager: nobody honours the request
// to maximise, so the window must be whole on its own. Started by CTest only where Xvfb is
// installed; without it the program exits with 77, which CTest reports as skipped.
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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "app/panel_view.h"
#include "link/rtu_device_link.h"
#include "sim/sim_server.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

constexpr int kScreenWidth = 1366;
constexpr int kScreenHeight = 768;

std::string findProgram(const char* name) {
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
class XServer {
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
    ~XServer() {
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
bool serverGeometry(WId id, QRect& out) {
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

TEST(XServer, WindowWithoutWindowManagerCoversTheScreenPaintsAndReceives) {
    const fs::path dir = freshTestDir("kvx_x11_");
    sim::SimServer sim;
    ASSERT_EQ(sim.start(), 0);
    fs::create_symlink(sim.devicePath(), dir / "COM5");
    RtuDeviceLink link(dir.string() + "/");
    ScriptedPrompts prompts;
    WindowParams p;
    p.programDir = dir.string() + "/";
    p.link = &link;
    p.prompts = &prompts;
    p.replyTimeoutMs = 300;
    p.terminate = [](int) { ADD_FAILURE() << "the window ended the process"; };
    {
        MainWindow window(p);
        window.startUp();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window.statusPart(3) == "Communication Status: Receiving data"; }, 10000))
            << window.statusPart(3).toStdString();
        EXPECT_TRUE(prompts.boxes.empty());
        QTest::qWait(500);  // a few more paints

        // The whole screen, as the server sees it.
        const QRect screen(0, 0, kScreenWidth, kScreenHeight);
        EXPECT_EQ(window.geometry(), screen);
        if (!findProgram("xwininfo").empty()) {
            QRect server;
            ASSERT_TRUE(serverGeometry(window.winId(), server));
            EXPECT_EQ(server, screen);
        }
        // The panel fills what the menu and status bars leave and has painted.
        const QWidget* view = window.panelView();
        EXPECT_EQ(view->width(), kScreenWidth);
        EXPECT_GT(view->height(), kScreenHeight - 100);
        EXPECT_GT(window.paintCount(), 0);
        EXPECT_TRUE(window.statusBar()->isVisible());
        EXPECT_GT(window.statusBar()->height(), 10);

        // What is on the screen where the panel is: gauges, not just the background colour
        // (nor the server's black where no window is).
        const QImage shot = QApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
            QImage::Format_RGB32);
        ASSERT_EQ(shot.size(), screen.size());
        const QPoint origin = view->mapToGlobal(QPoint(0, 0));
        const QRgb background = qRgb(64, 128, 128);
        long drawn = 0, total = 0;
        for (int y = origin.y(); y < origin.y() + view->height(); y += 3) {
            for (int x = origin.x(); x < origin.x() + view->width(); x += 3) {
                ++total;
                const QRgb px = shot.pixel(x, y);
                drawn += px != background && qGray(px) != 0;
            }
        }
        EXPECT_GT(drawn * 20, total) << drawn << " of " << total << " panel pixels drawn";
        window.shutDown();
    }
    sim.stop();
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kvx::test

// The platform plugin for X talks to the session bus through libdbus, which keeps a buffer to
// the end of the process: not ours to free, so the leak checker of sanitizer builds skips it.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const std::string xvfb = kvx::test::findProgram("Xvfb");
    if (xvfb.empty()) {
        std::puts("Xvfb is not installed: skipped");
        return 77;
    }
    kvx::test::XServer server;
    if (!server.start(xvfb)) {
        std::fprintf(stderr, "cannot start %s\n", xvfb.c_str());
        return 1;
    }
    ::setenv("DISPLAY", server.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);  // whatever the test environment says
    int code;
    {
        QApplication app(argc, argv);
        code = RUN_ALL_TESTS();
    }
    return code;
}
