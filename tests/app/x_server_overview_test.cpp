// Log Overview on a real X server: opened from the Tools menu with the server's mouse, a day
// of logs plotted, then a click on a moment moves the playback to the record drawn there and
// the panel shows that record; the wheel zooms in to single records and a click lands on one.
#include <QMenu>
#include <QMenuBar>
#include <ctime>

#include "app/log_overview_window.h"
#include "app/overview_plot_widget.h"
#include "log/log_file_name.h"
#include "log/log_reader.h"
#include "log/log_writer.h"
#include "resources/resource_ids.h"
#include "x_server_harness.h"

namespace kvx::test {
namespace {

std::int64_t localHour(int day, int hour) {
    std::tm tm{};
    tm.tm_year = 2014 - 1900;
    tm.tm_mon = 4;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

constexpr int kSpeedField = 15;  // engine_speed
constexpr int kRecords = 3000;   // ten minutes at five a second

// Hours 9 and 11 of 24 May 2014; record n's speed tells n (and the hour, by a thousand).
void writeLogs(const fs::path& folder) {
    for (int hour : {9, 11}) {
        const LocalDateTime at{2014, 5, 24, hour, 0, 0, 0, 0};
        LogWriter writer(folder.string(), [at] { return at; });
        writer.openLogFile(LogWriter::kRequestHeader, 113);
        const std::int64_t start = localHour(24, hour);
        for (int n = 0; n < kRecords; ++n) {
            LogRecord r;
            r.time = static_cast<std::int32_t>(start + n / 5);
            for (int f = 0; f < kLogValueCount; ++f)
                r.values[static_cast<std::size_t>(f)] = 20 + f;
            r.values[kSpeedField] = hour * 1000 + n % 1000;
            r.values[8] = 0;
            r.values[6] = 0;
            writer.appendLogRecord(r);
        }
        writer.closeLogFile();
    }
}

bool clickAt(QPoint global, int button = 1) {
    return xdotool({QStringLiteral("mousemove"), QString::number(global.x()),
                    QString::number(global.y()), QStringLiteral("click"), QString::number(button)});
}

// The record the player stands on, read from its file.
LogRecord playedRecord(MainWindow& window) {
    LogReader reader;
    LogRecord r;
    EXPECT_EQ(reader.open(window.player().path()), 0);
    EXPECT_EQ(reader.readRecord(window.player().playbackPosition(), r), 0);
    return r;
}

TEST_F(XServer, LogOverviewClickMovesThePlaybackToTheRecordDrawnThere) {
    const fs::path logs = dir / "logs";
    fs::create_directories(logs);
    writeLogs(logs);
    // The window's summaries go to the process's cache: here, not the user's.
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    {
        MainWindow window(p);
        window.startUp();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window.statusPart(3) == "Communication Status: Receiving data"; }, 10000));

        // Tools, then Log Overview..., with the mouse.
        QMenuBar* bar = window.menuBar();
        QAction* tools = nullptr;
        for (QAction* a : bar->actions())
            if (a->text() == QStringLiteral("Tools")) tools = a;
        ASSERT_NE(tools, nullptr);
        ASSERT_TRUE(clickAt(bar->mapToGlobal(bar->actionGeometry(tools).center())));
        QMenu* menu = tools->menu();
        ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 5000));
        QAction* item = window.action(res::kCmdLogOverview);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->text(), QStringLiteral("Log Overview..."));
        ASSERT_TRUE(clickAt(menu->mapToGlobal(menu->actionGeometry(item).center())));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window.overviewWindow() && window.overviewWindow()->isVisible(); }, 5000));
        LogOverviewWindow& overview = *window.overviewWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&overview));
        EXPECT_EQ(overview.windowTitle(), QStringLiteral("Log Overview"));

        overview.openRange(logs.string(), localHour(24, 0), localHour(25, 0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !overview.building(); }, 30000));
        ASSERT_NE(overview.shownSet(), nullptr) << overview.statusText().toStdString();
        OverviewPlotWidget* plot = overview.plot();
        QTest::qWait(200);

        // The whole span: a column of many records, three minutes into hour 9.
        plot->axis();
        const OverviewGeometry& g = overview.geometry();
        const std::int64_t nine = localHour(24, 9);
        const int x = g.xOf(static_cast<double>(nine + 180));
        const double c0 = g.timeAt(x), c1 = g.timeAt(x + 1);
        const int y = g.strips.at(0).top + 5;
        ASSERT_TRUE(clickAt(plot->mapToGlobal(QPoint(x, y))));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.panelFeed().playback(); }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.player().loaded(); }, 5000));
        EXPECT_EQ(fs::path(window.player().path()).filename(), "log_2014_5_24_9.log");
        LogRecord r = playedRecord(window);
        EXPECT_GE(r.time, static_cast<std::int32_t>(std::floor(c0)));
        EXPECT_LT(r.time, c1);
        // The panel shows that record, and the status bar says Playback Mode.
        EXPECT_EQ(window.panelFeed().live.engine_speed, r.values[kSpeedField]);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return window.statusPart(3) == "Communication Status: Playback Mode"; }, 5000))
            << window.statusPart(3).toStdString();

        // The wheel zooms in around the pointer, down to single records, at 9:05:00.
        const int at = g.xOf(static_cast<double>(nine + 300));
        xdotool({QStringLiteral("mousemove"), QString::number(plot->mapToGlobal(QPoint(at, y)).x()),
                 QString::number(plot->mapToGlobal(QPoint(at, y)).y())});
        for (int i = 0; i < 60 && plot->span().width() > LogOverviewWindow::kNarrowestSeconds;
             ++i) {
            ASSERT_TRUE(xdotool({QStringLiteral("click"), QStringLiteral("4")}));
            QTest::qWait(20);
        }
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return plot->span().width() <= LogOverviewWindow::kNarrowestSeconds + 1e-9; },
            5000));
        plot->axis();
        // Record 1503 of hour 9 (9:05:00.6) drawn at its own column: a click there plays it.
        const int n = 1503;
        const int rx = overview.geometry().xOf(nine + n / 5 + (n % 5) / 5.0 + 0.01);
        ASSERT_GE(rx, overview.geometry().plotLeft) << "9:05:00.6 is not in view";
        ASSERT_LT(rx, overview.geometry().plotRight) << "9:05:00.6 is not in view";
        ASSERT_TRUE(clickAt(plot->mapToGlobal(QPoint(rx, y))));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.player().playbackPosition() == n; }, 5000))
            << window.player().playbackPosition();
        r = playedRecord(window);
        EXPECT_EQ(r.values[kSpeedField], 9000 + n % 1000);
        EXPECT_EQ(window.panelFeed().live.engine_speed, 9000 + n % 1000);
        EXPECT_TRUE(overview.statusText().contains(QStringLiteral("record %1").arg(n)))
            << overview.statusText().toStdString();
        EXPECT_TRUE(prompts.boxes.empty());
        window.shutDown();
    }
}

}  // namespace
}  // namespace kvx::test
