// The main window on a real X server with no window manager: nobody honours the request to
// maximise, so the window must be whole on its own; the settings keys open their windows.
#include "x_server_harness.h"

namespace kvx::test {
namespace {

TEST_F(XServer, WindowWithoutWindowManagerCoversTheScreenPaintsAndReceives) {
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
}

// The settings keys on a real X server: each opens its window with its caption, Escape closes
// it, and polling comes back (after the password dialog only once F12 is pressed).
TEST_F(XServer, FunctionKeysOpenTheSettingsWindowsAndEscapeClosesThem) {
    {
        MainWindow window(p);
        window.startUp();
        const auto receiving = [&] {
            return window.statusPart(3) == "Communication Status: Receiving data";
        };
        ASSERT_TRUE(QTest::qWaitFor(receiving, 10000));

        struct Case {
            const char* key;
            const char* title;
            bool pollingResumes;
        };
        const Case cases[] = {
            {"F2", "Fuel Pressure Schedule Settings", true},
            {"F3", "Diesel Flow Schedule / Substitution Settings", true},
            {"F4", "Exhaust Temperature Settings", true},
            {"F5", "Vibration Sensor Settings", true},
            {"F8", "Flow Control Settings", true},
            {"F6", "Required Information", false},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.key);
            window.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
            // The dialog runs its own loop inside the posted command: watch for it from a timer.
            QString title;
            bool escaped = false;
            QTimer watch;
            watch.setInterval(50);
            QObject::connect(&watch, &QTimer::timeout, [&] {
                QWidget* modal = QApplication::activeModalWidget();
                if (!modal || escaped) return;
                if (!modal->isActiveWindow()) {
                    modal->activateWindow();
                    return;
                }
                title = modal->windowTitle();
                escaped = xdotoolKey("Escape");
            });
            watch.start();
            ASSERT_TRUE(xdotoolKey(c.key));
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return escaped && !QApplication::activeModalWidget(); }, 10000));
            watch.stop();
            EXPECT_EQ(title.toStdString(), c.title);

            const long ticks = window.controller().state().goodTicks;
            if (!c.pollingResumes) {
                QTest::qWait(1000);
                EXPECT_EQ(window.controller().state().goodTicks, ticks)
                    << "polling ran after Cancel";
                window.activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
                ASSERT_TRUE(xdotoolKey("F12"));
            }
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return window.controller().state().goodTicks > ticks + 3 && receiving(); },
                15000))
                << "polling did not resume";
        }
        EXPECT_TRUE(prompts.boxes.empty());
        window.shutDown();
    }
}

}  // namespace
}  // namespace kvx::test
