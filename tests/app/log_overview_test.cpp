// The log overview window on the offscreen platform: what the mouse and keys do to the view,
// the record a click hands to the playback, the exports, the background build and its Cancel,
// and the messages for input that is not a day of logs.
#include "app/log_overview_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/main_window.h"
#include "app/overview_plot_widget.h"
#include "app/overview_span.h"
#include "log/log_csv.h"
#include "log/log_file_name.h"
#include "log/log_reader.h"
#include "log/log_result.h"
#include "log/log_writer.h"
#include "resources/resource_ids.h"
#include "tests/support/fake_link.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

// The start of a local clock hour, as the writer names its files by.
std::int64_t hourStart(int year, int month, int day, int hour) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

constexpr int kSpeedField = 15;        // engine_speed
constexpr int kExhaustField = 0;       // exhaust_temp
constexpr int kRecordsPerHour = 1500;  // five a second for five minutes

// Record n of the hour: its speed tells which record it is.
LogRecord engineRecord(std::int64_t start, int n) {
    LogRecord r;
    r.time = static_cast<std::int32_t>(start + n / 5);
    for (int f = 0; f < kLogValueCount; ++f)
        r.values[static_cast<std::size_t>(f)] = 10 + f;
    r.values[kSpeedField] = 1000 + n % 1000;
    r.values[kExhaustField] = 400 + n / 100;
    r.values[6] = 0;  // no shutdown
    r.values[8] = 0;  // no alarm
    return r;
}

std::string writeHour(const fs::path& dir, int hour, int records = kRecordsPerHour) {
    const LocalDateTime at{2014, 5, 24, hour, 0, 0, 0, 0};
    LogWriter writer(dir.string(), [at] { return at; });
    writer.openLogFile(LogWriter::kRequestHeader, 113);
    const std::int64_t start = hourStart(2014, 5, 24, hour);
    for (int n = 0; n < records; ++n)
        writer.appendLogRecord(engineRecord(start, n));
    writer.closeLogFile();
    return logFilePath(dir.string(), at);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct PlayCall {
    std::string path;
    std::int64_t index;
};

class LogOverviewTest : public ::testing::Test {
  protected:
    LogOverviewTest() : dir(freshTestDir("kvx_overview_")) {
        logs = dir / "logs";
        fs::create_directories(logs);
    }
    ~LogOverviewTest() override {
        release = true;  // a build held by a failed test goes on, and ends
        window.reset();
        fs::remove_all(dir);
    }
    LogOverviewWindow& make() {
        window = std::make_unique<LogOverviewWindow>(
            prompts, logs.string(),
            [this](const std::string& path, std::int64_t index) {
                plays.push_back({path, index});
                return playAnswer;
            },
            nullptr, std::make_shared<OverviewCache>((dir / "cache").string()));
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return *window;
    }
    // Hours 13 and 15 of 24 May 2014, none at 14: a gap of an hour between them.
    void openDay(LogOverviewWindow& w) {
        writeHour(logs, 13);
        writeHour(logs, 15);
        w.openRange(logs.string(), hourStart(2014, 5, 24, 0), hourStart(2014, 5, 25, 0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w.building(); }, 30000));
        ASSERT_NE(w.shownSet(), nullptr) << w.statusText().toStdString();
    }
    void key(int k) { QTest::keyClick(window->plot(), static_cast<Qt::Key>(k)); }
    void wheel(int x, int notches) {
        OverviewPlotWidget* p = window->plot();
        const QPointF at(x, p->height() / 2);
        QWheelEvent e(at, p->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(p, &e);
    }

    fs::path dir, logs;
    ScriptedPrompts prompts;
    std::unique_ptr<LogOverviewWindow> window;
    std::vector<PlayCall> plays;
    std::string playAnswer;
    std::atomic<bool> release{false};
};

TEST(OverviewSpanTest, ZoomPanAndDragKeepToTheLimits) {
    const OverviewLimits limits{{1000.0, 4600.0}, 2.0};
    struct Case {
        const char* what;
        OverviewSpan got, want;
    };
    const Case cases[] = {
        // The moment under the pointer stays put.
        {"zoom in around a quarter", zoomSpan({1000, 4600}, 1900, 0.5, limits), {1450, 3250}},
        {"zoom out to everything", zoomSpan({2000, 2100}, 2050, 1000, limits), {1000, 4600}},
        {"zoom in no narrower than the narrowest",
         zoomSpan({2000, 2004}, 2002, 0.01, limits),
         {2001, 2003}},
        {"zoom out at the end pushed inside",
         zoomSpan({4500, 4600}, 4600, 2, limits),
         {4400, 4600}},
        {"pan later", panSpan({2000, 2400}, 0.25, limits), {2100, 2500}},
        {"pan past the start stops there", panSpan({1050, 1450}, -0.25, limits), {1000, 1400}},
        {"pan past the end stops there", panSpan({4300, 4600}, 0.25, limits), {4300, 4600}},
        // 100 columns from 100 to 200 over 1000..4600: 36 s a column.
        {"drag right to left", spanBetween({1000, 4600}, 100, 200, 150, 125, limits), {1900, 2836}},
        {"drag beyond the plot",
         spanBetween({1000, 4600}, 100, 200, 50, 400, limits),
         {1000, 4600}},
        {"an empty span is everything", fitSpan({5, 5}, limits), {1000, 4600}},
        {"a span wider than all is all", fitSpan({0, 9000}, limits), {1000, 4600}},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(c.got.from, c.want.from, 1e-6) << c.what;
        EXPECT_NEAR(c.got.to, c.want.to, 1e-6) << c.what;
    }
    EXPECT_EQ(columnAtTime({1000, 4600}, 100, 200, timeAtColumn({1000, 4600}, 100, 200, 137)), 137);
}

TEST_F(LogOverviewTest, WheelKeysAndDragZoomDownToSingleRecordsAndBack) {
    LogOverviewWindow& w = make();
    openDay(w);
    OverviewPlotWidget* p = w.plot();
    const OverviewSpan all = p->limits().all;
    EXPECT_EQ(p->span(), all);
    EXPECT_NEAR(all.from, static_cast<double>(hourStart(2014, 5, 24, 13)), 1.0);
    EXPECT_NEAR(all.to, static_cast<double>(hourStart(2014, 5, 24, 15) + kRecordsPerHour / 5), 1.0);
    const auto [left, right] = p->axis();
    ASSERT_GT(right - left, 300);

    // A wheel notch up zooms in around the pointer: the moment there stays there.
    const int x = left + (right - left) / 3;
    const double before = timeAtColumn(p->span(), left, right, x);
    wheel(x, 1);
    EXPECT_NEAR(p->span().width(), all.width() * OverviewPlotWidget::kZoomStep, 1e-6);
    EXPECT_NEAR(timeAtColumn(p->span(), left, right, x), before, all.width() / (right - left));
    wheel(x, -1);
    EXPECT_NEAR(p->span().width(), all.width(), 1e-6);

    // The wheel at 13:02, then +, down to the narrowest view: each record has columns of its
    // own.
    const int at = w.geometry().xOf(static_cast<double>(hourStart(2014, 5, 24, 13) + 120));
    for (int i = 0; i < 20; ++i)
        wheel(at, 1);
    for (int i = 0; i < 100 && p->span().width() > LogOverviewWindow::kNarrowestSeconds; ++i)
        key(Qt::Key_Plus);
    EXPECT_NEAR(p->span().width(), LogOverviewWindow::kNarrowestSeconds, 1e-9);
    // Ten records in two seconds: their columns hold one record each.
    const OverviewGeometry& g = w.geometry();
    int recordsSeen = 0;
    for (int col = g.plotLeft; col < g.plotRight; ++col) {
        QTest::mouseMove(p, QPoint(col, p->height() / 2));
        if (w.hoverText().contains(QStringLiteral("(1 record)"))) ++recordsSeen;
        EXPECT_FALSE(w.hoverText().contains(QStringLiteral("records)")))
            << w.hoverText().toStdString();
    }
    EXPECT_GE(recordsSeen, 9);

    // Arrows pan by a quarter, Home shows everything again, - zooms out.
    const OverviewSpan narrow = p->span();
    key(Qt::Key_Right);
    EXPECT_NEAR(p->span().from, narrow.from + narrow.width() / 4, 1e-6);
    key(Qt::Key_Left);
    EXPECT_NEAR(p->span().from, narrow.from, 1e-6);
    key(Qt::Key_Minus);
    EXPECT_NEAR(p->span().width(), narrow.width() / OverviewPlotWidget::kZoomStep, 1e-6);
    key(Qt::Key_Home);
    EXPECT_EQ(p->span(), all);

    // A drag zooms to the columns dragged over; a move of a pixel or two is no drag.
    const int x0 = left + 50, x1 = left + 250;
    const OverviewSpan dragged = spanBetween(all, left, right, x0, x1, p->limits());
    QTest::mousePress(p, Qt::LeftButton, Qt::NoModifier, QPoint(x0, 40));
    QTest::mouseMove(p, QPoint(x0 + 100, 40));
    QTest::mouseMove(p, QPoint(x1, 40));
    QTest::mouseRelease(p, Qt::LeftButton, Qt::NoModifier, QPoint(x1, 40));
    EXPECT_NEAR(p->span().from, dragged.from, 1e-6);
    EXPECT_NEAR(p->span().to, dragged.to, 1e-6);
    EXPECT_TRUE(plays.empty()) << "a drag played a record";
}

TEST_F(LogOverviewTest, AClickPlaysTheRecordDrawnThereAndHoverShowsItsValues) {
    LogOverviewWindow& w = make();
    openDay(w);
    OverviewPlotWidget* p = w.plot();
    // Two seconds from 13:02:00: records 600 to 609.
    const std::int64_t start = hourStart(2014, 5, 24, 13);
    p->setSpan({static_cast<double>(start + 120), static_cast<double>(start + 122)});
    const auto [left, right] = p->axis();
    const OverviewGeometry& g = w.geometry();
    for (int k : {0, 3, 7}) {
        SCOPED_TRACE(k);
        // The middle of the columns of the record k of that second.
        const double t = start + 120 + (k + 0.5) / 5.0;
        const int x = g.xOf(t);
        ASSERT_GE(x, left);
        ASSERT_LT(x, right);
        QTest::mouseMove(p, QPoint(x, 60));
        const int n = 600 + k;
        EXPECT_TRUE(w.hoverText().contains(QStringLiteral("engine_speed %1 RPM").arg(1000 + n)))
            << w.hoverText().toStdString();
        EXPECT_TRUE(w.hoverText().contains(QStringLiteral("2014-05-24 13:02:0")))
            << w.hoverText().toStdString();
        EXPECT_FALSE(w.hoverText().contains(QStringLiteral("ALARM")));
        plays.clear();
        QTest::mouseClick(p, Qt::LeftButton, Qt::NoModifier, QPoint(x, 60));
        ASSERT_EQ(plays.size(), 1u);
        EXPECT_EQ(fs::path(plays[0].path).filename(), "log_2014_5_24_13.log");
        EXPECT_EQ(plays[0].index, n);
        EXPECT_TRUE(w.statusText().contains(QStringLiteral("record %1").arg(n)))
            << w.statusText().toStdString();
        EXPECT_TRUE(w.currentView().showCursor);
    }

    // Zoomed out, a column holds many records: the one played lies in the column, at its
    // middle as far as records go.
    p->showAll();
    p->axis();  // drawn for the new span
    {
        const OverviewGeometry& all = w.geometry();
        const int x = all.xOf(static_cast<double>(start + 100));
        const double c0 = all.timeAt(x), c1 = all.timeAt(x + 1);
        ASSERT_GT(c1 - c0, 2.0);
        plays.clear();
        QTest::mouseClick(p, Qt::LeftButton, Qt::NoModifier, QPoint(x, 60));
        ASSERT_EQ(plays.size(), 1u);
        const double played = start + plays[0].index / 5 + (plays[0].index % 5) / 5.0;
        EXPECT_GE(played, c0);
        EXPECT_LT(played, c1);
        EXPECT_NEAR(played, (c0 + c1) / 2, 0.2);
    }
    // A click in the hour without files plays the last record before it.
    const auto [l2, r2] = p->axis();
    (void)r2;
    plays.clear();
    const int gapX = w.geometry().xOf(static_cast<double>(hourStart(2014, 5, 24, 14) + 1800));
    ASSERT_GT(gapX, l2);
    QTest::mouseMove(p, QPoint(gapX, 60));
    EXPECT_TRUE(w.hoverText().contains(QStringLiteral("no records")))
        << w.hoverText().toStdString();
    QTest::mouseClick(p, Qt::LeftButton, Qt::NoModifier, QPoint(gapX, 60));
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(fs::path(plays[0].path).filename(), "log_2014_5_24_13.log");
    EXPECT_EQ(plays[0].index, kRecordsPerHour - 1);

    // The playback's refusal is the window's message.
    playAnswer = "Cannot open log_2014_5_24_13.log";
    QTest::mouseClick(p, Qt::LeftButton, Qt::NoModifier, QPoint(gapX, 60));
    EXPECT_EQ(w.statusText().toStdString(), playAnswer);
}

TEST_F(LogOverviewTest, StripsFollowTheTicksAndTheOrderChosen) {
    LogOverviewWindow& w = make();
    openDay(w);
    QListWidget* list = w.stripList();
    ASSERT_EQ(list->count(), kLogValueCount);
    const std::vector<int> initial = w.chosenFields();
    ASSERT_GE(initial.size(), 2u);
    EXPECT_EQ(initial[0], kSpeedField);
    // Down moves the first strip below the second; unticking hides it.
    list->setCurrentRow(0);
    w.findChild<QPushButton*>(QStringLiteral("stripDown"))->click();
    std::vector<int> fields = w.chosenFields();
    EXPECT_EQ(fields[0], initial[1]);
    EXPECT_EQ(fields[1], initial[0]);
    w.plot()->picture();
    ASSERT_GE(w.geometry().strips.size(), 2u);
    EXPECT_EQ(w.geometry().strips[0].field, initial[1]);
    EXPECT_EQ(w.geometry().strips[1].field, initial[0]);
    list->item(1)->setCheckState(Qt::Unchecked);
    fields = w.chosenFields();
    EXPECT_EQ(std::count(fields.begin(), fields.end(), kSpeedField), 0);
    w.plot()->picture();
    for (const OverviewStrip& s : w.geometry().strips)
        EXPECT_NE(s.field, kSpeedField);
    // Up at the top changes nothing.
    list->setCurrentRow(0);
    w.findChild<QPushButton*>(QStringLiteral("stripUp"))->click();
    EXPECT_EQ(w.chosenFields(), fields);
}

TEST_F(LogOverviewTest, ExportsThePictureAndTheRecordsInViewAndAsksBeforeReplacing) {
    LogOverviewWindow& w = make();
    openDay(w);
    // Ten seconds of hour 15: records 100 to 149 of it.
    const std::int64_t start = hourStart(2014, 5, 24, 15);
    w.plot()->setSpan({static_cast<double>(start + 20), static_cast<double>(start + 30)});

    prompts.fileAnswers.push_back((dir / "view").string());  // the extension is added
    w.exportAction(LogOverviewWindow::kExportCsv)->trigger();
    ASSERT_EQ(prompts.fileDialogs.size(), 1u);
    EXPECT_TRUE(prompts.fileDialogs[0].save);
    EXPECT_FALSE(prompts.fileDialogs[0].request.confirmOverwrite);
    // Never into the log folder unasked; then where the last export went.
    EXPECT_NE(prompts.fileDialogs[0].request.initialDir, logs.string());
    const std::string csv = readFile(dir / "view.csv");
    std::string expected = csvHeaderRow();
    for (int n = 100; n < 150; ++n)
        appendCsvRow(engineRecord(start, n), false, expected);
    EXPECT_EQ(csv, expected);

    prompts.fileAnswers.push_back((dir / "view.png").string());
    w.exportAction(LogOverviewWindow::kExportPng)->trigger();
    EXPECT_EQ(prompts.fileDialogs.back().request.initialDir, dir.string());
    QImage png((dir / "view.png").c_str());
    ASSERT_FALSE(png.isNull()) << w.statusText().toStdString();
    EXPECT_EQ(png.size(), w.plot()->size());

    prompts.fileAnswers.push_back((dir / "view.svg").string());
    w.exportAction(LogOverviewWindow::kExportSvg)->trigger();
    const std::string svg = readFile(dir / "view.svg");
    EXPECT_NE(svg.find("<svg"), std::string::npos) << w.statusText().toStdString();
    EXPECT_NE(svg.find("engine_speed"), std::string::npos);

    // An existing file: the question defaults to No, which keeps the file; Yes replaces it.
    std::ofstream(dir / "old.csv") << "keep me";
    prompts.fileAnswers.push_back((dir / "old.csv").string());
    const std::size_t boxes = prompts.boxes.size();
    w.exportAction(LogOverviewWindow::kExportCsv)->trigger();
    ASSERT_EQ(prompts.boxes.size(), boxes + 1);
    EXPECT_EQ(prompts.boxes.back().buttons, BoxButtons::YesNoDefaultNo);
    EXPECT_NE(prompts.boxes.back().text.find("old.csv already exists"), std::string::npos);
    EXPECT_EQ(readFile(dir / "old.csv"), "keep me");
    prompts.fileAnswers.push_back((dir / "old.csv").string());
    prompts.answers.push_back(kAnswerYes);
    w.exportAction(LogOverviewWindow::kExportCsv)->trigger();
    EXPECT_EQ(readFile(dir / "old.csv"), expected);

    // A cancelled save dialog writes nothing and asks nothing.
    prompts.fileAnswers.push_back("");
    w.exportAction(LogOverviewWindow::kExportPng)->trigger();
    EXPECT_EQ(prompts.boxes.size(), boxes + 2);
}

TEST_F(LogOverviewTest, InputThatIsNotADayOfLogsGetsAMessageNotACrash) {
    LogOverviewWindow& w = make();
    struct Case {
        const char* what;
        std::function<void()> setUp;
        int fromDay, toDay;  // of May 2014
        const char* message;
    };
    const fs::path other = dir / "other";
    const Case cases[] = {
        {"an empty folder", [] {}, 24, 25, "holds no log files"},
        {"a folder that is not there", [&] { fs::remove_all(logs); }, 24, 25, "cannot open"},
        {"files of another program",
         [&] {
             fs::create_directories(logs);
             std::ofstream f(logs / "log_2014_5_24_13.log", std::ios::binary);
             for (int i = 0; i < 5000; ++i)
                 f << "PK\x03\x04 not a log at all " << i;
         },
         24, 25, "None of the 1 file(s) holds records"},
        {"a day with no files", [] {}, 26, 27,
         "newest log file in the folder is of 2014-05-24 13:00"},
        {"an end before the start", [] {}, 25, 24, "must come after its start"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.setUp();
        w.openRange(logs.string(), hourStart(2014, 5, c.fromDay, 0),
                    hourStart(2014, 5, c.toDay, 0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w.building(); }, 20000));
        EXPECT_TRUE(w.statusText().contains(QString::fromUtf8(c.message)))
            << w.statusText().toStdString();
        EXPECT_EQ(w.shownSet(), nullptr);
        // Nothing to zoom, click or export, and none of it fails.
        QTest::keyClick(w.plot(), Qt::Key_Plus);
        QTest::mouseClick(w.plot(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
        EXPECT_TRUE(plays.empty());
        w.exportAction(LogOverviewWindow::kExportCsv)->trigger();
        EXPECT_TRUE(w.statusText().contains(QStringLiteral("open log files first")));
    }
    EXPECT_TRUE(prompts.fileDialogs.empty());
}

TEST_F(LogOverviewTest, ChosenFilesAreShownInTimeOrderAndAnUnusableOneIsNamed) {
    LogOverviewWindow& w = make();
    const std::string late = writeHour(logs, 15), early = writeHour(logs, 13);
    const std::string other = (dir / "notes.txt").string();
    std::ofstream(other) << "not a log";
    prompts.fileListAnswers.push_back({late, other, early});
    w.findChild<QPushButton*>(QStringLiteral("chooseFiles"))->click();
    ASSERT_EQ(prompts.fileDialogs.size(), 1u);
    EXPECT_FALSE(prompts.fileDialogs[0].save);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.building(); }, 20000));
    ASSERT_NE(w.shownSet(), nullptr) << w.statusText().toStdString();
    EXPECT_EQ(w.shownSet()->usableCount(), 2u);
    EXPECT_NEAR(w.plot()->limits().all.from, static_cast<double>(hourStart(2014, 5, 24, 13)), 1);
    EXPECT_TRUE(w.statusText().contains(QStringLiteral("1 file(s) left out: notes.txt")))
        << w.statusText().toStdString();
    // Cancelled: nothing changes.
    prompts.fileListAnswers.push_back({});
    w.findChild<QPushButton*>(QStringLiteral("chooseFiles"))->click();
    EXPECT_FALSE(w.building());
    EXPECT_EQ(w.shownSet()->usableCount(), 2u);
}

TEST_F(LogOverviewTest, TheBuildRunsBehindAProgressBarAndCancelKeepsWhatWasShown) {
    LogOverviewWindow& w = make();
    openDay(w);
    const OverviewSet* before = w.shownSet();
    for (int hour = 16; hour < 22; ++hour)
        writeHour(logs, hour, 50);

    // The worker waits after its first file until the test has seen the window go on working.
    std::atomic<int> filesDone{0};
    w.setBuildHook([&](std::size_t done) {
        filesDone = static_cast<int>(done);
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    w.openRange(logs.string(), hourStart(2014, 5, 24, 0), hourStart(2014, 5, 25, 0));
    ASSERT_TRUE(w.building());
    EXPECT_TRUE(w.progressBar()->isVisible());
    EXPECT_TRUE(w.cancelButton()->isVisible());
    EXPECT_EQ(w.progressBar()->maximum(), 8);
    ASSERT_TRUE(QTest::qWaitFor([&] { return filesDone == 1; }, 20000));
    // Meanwhile the window zooms what it showed before.
    QTest::keyClick(w.plot(), Qt::Key_Plus);
    EXPECT_LT(w.plot()->span().width(), w.plot()->limits().all.width());
    w.cancelButton()->click();
    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.building(); }, 20000));
    EXPECT_TRUE(w.statusText().startsWith(QStringLiteral("Cancelled")))
        << w.statusText().toStdString();
    EXPECT_EQ(w.shownSet(), before);
    EXPECT_FALSE(w.progressBar()->isVisible());
    EXPECT_FALSE(w.cancelButton()->isVisible());

    // Without a hold the same files build to the end.
    w.setBuildHook({});
    w.openRange(logs.string(), hourStart(2014, 5, 24, 0), hourStart(2014, 5, 25, 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.building(); }, 20000));
    ASSERT_NE(w.shownSet(), nullptr);
    EXPECT_EQ(w.shownSet()->usableCount(), 8u);
}

}  // namespace
}  // namespace kvx::test

namespace kvx::test {
namespace {

// The window's side of a click: Playback entered as its command enters it, the file opened,
// the player at the record and the panel showing it.
class OverviewPlaybackTest : public ::testing::Test {
  protected:
    OverviewPlaybackTest() : dir(freshTestDir("kvx_overview_play_")) {
        // The window's summaries go to the process's cache: here, not the user's.
        ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
        WindowParams p;
        p.programDir = dir.string() + "/";
        p.link = &link;
        p.prompts = &prompts;
        p.terminate = [](int) { ADD_FAILURE() << "the window ended the process"; };
        window = std::make_unique<MainWindow>(p);
    }
    ~OverviewPlaybackTest() override {
        window.reset();
        fs::remove_all(dir);
    }
    fs::path dir;
    FakeLink link;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
};

TEST_F(OverviewPlaybackTest, PlayRecordEntersPlaybackAndShowsTheRecordAlsoOfAGrownFile) {
    // The Tools item opens the window.
    window->onCommand(res::kCmdLogOverview);
    ASSERT_NE(window->overviewWindow(), nullptr);
    EXPECT_TRUE(window->overviewWindow()->isVisible());
    EXPECT_EQ(window->action(res::kCmdLogOverview)->text(), QStringLiteral("Log Overview..."));

    const std::string path = writeHour(dir, 13, 1000);
    const std::int64_t start = hourStart(2014, 5, 24, 13);
    EXPECT_EQ(window->playRecord(path, 700), "");
    EXPECT_TRUE(window->panelFeed().playback());
    EXPECT_EQ(window->player().path(), path);
    EXPECT_EQ(window->player().playbackPosition(), 700);
    EXPECT_EQ(window->panelFeed().live.engine_speed, engineRecord(start, 700).values[kSpeedField]);

    // The hour still being logged has grown since: its new records are reached too.
    {
        const LocalDateTime at{2014, 5, 24, 13, 0, 0, 0, 0};
        LogWriter writer(dir.string(), [at] { return at; });
        writer.openLogFile(LogWriter::kRequestHeader, 113);
        for (int n = 1000; n < 1200; ++n)
            writer.appendLogRecord(engineRecord(start, n));
        writer.closeLogFile();
    }
    EXPECT_EQ(window->playRecord(path, 1150), "");
    EXPECT_EQ(window->player().playbackPosition(), 1150);
    EXPECT_EQ(window->panelFeed().live.engine_speed, engineRecord(start, 1150).values[kSpeedField]);

    // A file gone since the overview was built: said, and the panel keeps its record.
    const std::string gone = (dir / "log_2014_5_24_14.log").string();
    EXPECT_EQ(window->playRecord(gone, 5), playbackResultText(LOG_OPEN_FAILED, gone));
}

}  // namespace
}  // namespace kvx::test
