// The Traffic window on a real X server during a faulted run: opened from the View menu with
// the server's mouse while the window polls the simulator, it shows the faults the simulator
// puts on its replies with the master's verdicts, errors in red, while polling goes on; closed,
// the link records nothing more.
#include <QComboBox>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "app/traffic_window.h"
#include "resources/resource_ids.h"
#include "x_server_harness.h"

namespace kvx::test {
namespace {

bool clickAt(QPoint global) {
    return xdotool({QStringLiteral("mousemove"), QString::number(global.x()),
                    QString::number(global.y()), QStringLiteral("click"), QStringLiteral("1")});
}

bool anyLineEndsIn(const TrafficLines& lines, const QString& verdict) {
    for (int r = 0; r < lines.rowCount(); ++r)
        if (lines.shownLine(r).text.contains(QStringLiteral(" ") + verdict + QStringLiteral(" (")))
            return true;
    return false;
}

// Pixels of a clearly red text colour in the picture.
int redPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.red() > 150 && c.green() < 90 && c.blue() < 90;
        }
    return n;
}

TEST_F(XServer, TrafficWindowShowsTheFaultsOfAFaultedRunAsTheyPass) {
    MainWindow window(p);
    window.startUp();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.statusPart(3) == "Communication Status: Receiving data"; }, 10000));

    // View, then Traffic..., with the mouse.
    QMenuBar* bar = window.menuBar();
    QAction* view = nullptr;
    for (QAction* a : bar->actions())
        if (a->text() == QStringLiteral("View")) view = a;
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(clickAt(bar->mapToGlobal(bar->actionGeometry(view).center())));
    QMenu* menu = view->menu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 5000));
    QAction* item = window.action(res::kCmdTraffic);
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(clickAt(menu->mapToGlobal(menu->actionGeometry(item).center())));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.trafficWindow() && window.trafficWindow()->isVisible(); }, 5000));
    TrafficWindow& traffic = *window.trafficWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&traffic));
    traffic.setGeometry(40, 40, 1100, 600);
    ASSERT_TRUE(QTest::qWaitFor([&] { return traffic.lines().rowCount() >= 8; }, 5000));
    EXPECT_TRUE(traffic.recording());

    // Faults on replies a few requests apart, so that the connection is never given up.
    const long next = sim.stats().requests;
    const std::pair<sim::FaultKind, const char*> faults[] = {
        {sim::FaultKind::badCrc, "bad-crc"},
        {sim::FaultKind::wrongAddress, "wrong-slave"},
        {sim::FaultKind::exception, "exception 4"},
        {sim::FaultKind::noReply, "timeout"},
    };
    long at = next + 4;
    for (const auto& [kind, verdict] : faults) {
        sim.faultAt(at, kind);
        at += 6;
    }
    const long goodBefore = window.controller().state().goodTicks;
    // A lambda may not capture a structured binding before C++20's later compilers: name it.
    for (const auto& fault : faults) {
        const char* verdict = fault.second;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return anyLineEndsIn(traffic.lines(), QString::fromUtf8(verdict)); }, 15000))
            << verdict;
    }
    // Polling went on around them.
    EXPECT_GT(window.controller().state().goodTicks, goodBefore);
    QTest::qWait(300);

    // The failed replies are drawn in red; with the errors alone shown, each of them.
    traffic.raise();
    QTest::qWait(200);
    const char* png = std::getenv("KVX_TRAFFIC_PNG");
    if (png) traffic.grab().save(QString::fromUtf8(png));
    traffic.setFilterIndex(traffic.filterBox()->findText(QStringLiteral("Errors")));
    QTest::qWait(200);
    ASSERT_GE(traffic.lines().rowCount(), 4);
    for (int r = 0; r < traffic.lines().rowCount(); ++r)
        EXPECT_EQ(traffic.lines().shownLine(r).kind, TrafficLineKind::Error)
            << traffic.lines().shownLine(r).text.toStdString();
    const QImage errors = traffic.grab().toImage();
    EXPECT_GT(redPixels(errors), 4 * 50);
    if (png)
        errors.save(
            QString::fromUtf8(png).replace(QStringLiteral(".png"), QStringLiteral("-errors.png")));

    // Closed, the link records into no ring.
    traffic.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !traffic.recording(); }, 3000));
    const int rows = traffic.lines().rowCount();
    QTest::qWait(600);
    EXPECT_EQ(traffic.lines().rowCount(), rows);
    EXPECT_TRUE(prompts.boxes.empty());
    window.shutDown();
}

}  // namespace
}  // namespace kvx::test
