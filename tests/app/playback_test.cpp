// Playback: the dialog over a player on its own, then the whole command in the real window,
// playing back what the window itself recorded from the simulated controller.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "app/core/window_texts.h"
#include "app/main_window.h"
#include "app/panel_view.h"
#include "overview/trend_chart_feed.h"
#include "display/trend_chart.h"
#include "link/rtu_device_link.h"
#include "log/log_file_name.h"
#include "log/log_player.h"
#include "log/log_reader.h"
#include "log/log_writer.h"
#include "log/playback_dialog.h"
#include "resources/resource_ids.h"
#include "sim/sim_server.h"
#include "tests/support/fake_link.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

// Where pictures for a person go: $KVX_SNAPSHOT_DIR when set, else nowhere.
void snapshot(const QPixmap& picture, const char* name) {
    const char* dir = std::getenv("KVX_SNAPSHOT_DIR");
    if (!dir || !*dir) return;
    picture.save(QString::fromUtf8(dir) + "/" + name + ".png");
}

// The start of an hour of the local clock, as the log writer names its files by.
std::int32_t localHourStart(int year, int month, int day, int hour) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_isdst = -1;
    return static_cast<std::int32_t>(std::mktime(&tm));
}

// Record n of an engine run logged from 13:00 on 24 May 2014, five records a second.
LogRecord engineRecord(int n, int hour = 13) {
    LogRecord r;
    r.time = localHourStart(2014, 5, 24, hour) + n / 5;
    for (int i = 0; i < kLogValueCount; ++i)
        r.values[static_cast<std::size_t>(i)] = n * 10 + i;
    return r;
}

QPushButton* button(QWidget& d, int id) {
    return d.findChild<QPushButton*>(QString::number(id));
}

class PlaybackDialogTest : public ::testing::Test {
  protected:
    PlaybackDialogTest() : dir(freshTestDir("kvx_playback_")) {
        chart.setSize(ClientSize{1200, 800});  // a capacity of a few hundred records
    }
    ~PlaybackDialogTest() override { fs::remove_all(dir); }
    std::string writeLog(int records, int hour = 13) {
        std::vector<LogRecord> run;
        for (int n = 0; n < records; ++n)
            run.push_back(engineRecord(n, hour));
        return writeRecords(run, hour);
    }
    std::string writeRecords(const std::vector<LogRecord>& records, int hour = 13) {
        const LocalDateTime at{2014, 5, 24, hour, 0, 0, 0, 0};
        LogWriter writer(dir.string(), [at] { return at; });
        writer.openLogFile(LogWriter::kRequestHeader, 113);
        for (const LogRecord& r : records)
            writer.appendLogRecord(r);
        writer.closeLogFile();
        return logFilePath(dir.string(), at);
    }
    PlaybackDialog& make() {
        dialog = std::make_unique<PlaybackDialog>(player, prompts, dir.string() + "/",
                                                  [this] { ++repaints; });
        dialog->datePicker()->setDate(QDate(2014, 5, 24));
        return *dialog;
    }

    fs::path dir;
    LiveData live;
    TrendChart chart;
    TrendChartFeed feed{chart};
    LogPlayer player{live, feed};
    ScriptedPrompts prompts;
    std::unique_ptr<PlaybackDialog> dialog;
    int repaints = 0;
};

TEST_F(PlaybackDialogTest, ControlsBeforeAndAfterAFileIsOpened) {
    PlaybackDialog& d = make();
    EXPECT_EQ(d.objectName(), "109");
    EXPECT_EQ(d.windowTitle(), "Playback Dialog");
    EXPECT_EQ(d.datePicker()->text(), "2014_5_24");
    EXPECT_GE(d.minimumWidth(), QFontMetrics(d.font()).horizontalAdvance(d.windowTitle()));
    struct Control {
        int id;
        const char* caption;
        bool enabledBefore;
    } const controls[] = {
        {res::kPlaybackOpenFile, "Open File", true},
        {res::kPlaybackPlay, "Play", false},
        {res::kPlaybackStop, "Stop", false},
        {res::kPlaybackFastReverse, "<<", false},
        {res::kPlaybackPause, "||", false},
        {res::kPlaybackFastForward, ">>", false},
        {res::kIdCancel, "Close", true},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.caption);
        QPushButton* b = button(d, c.id);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text(), c.caption);
        EXPECT_EQ(b->isEnabled(), c.enabledBefore);
    }
    EXPECT_FALSE(d.trackbar()->isEnabled());
    EXPECT_TRUE(d.datePicker()->isEnabled());
    EXPECT_TRUE(d.fileBox()->isEnabled());

    // Cancelling the file dialog changes nothing.
    button(d, res::kPlaybackOpenFile)->click();
    ASSERT_EQ(prompts.fileDialogs.size(), 1u);
    const FileDialogRequest& r = prompts.fileDialogs[0].request;
    ASSERT_EQ(r.filters.size(), 2u);
    EXPECT_EQ(r.filters[0].name, "Log Files");
    EXPECT_EQ(r.filters[0].pattern, "log_2014_5_24_*.log");  // that day only
    EXPECT_EQ(r.filters[1].name, "All Files");
    EXPECT_EQ(r.filters[1].pattern, "*.*");
    EXPECT_EQ(r.initialDir, dir.string() + "/");
    EXPECT_EQ(r.initialName, "2014_5_24");
    EXPECT_FALSE(button(d, res::kPlaybackPlay)->isEnabled());
    EXPECT_TRUE(d.fileBox()->text().isEmpty());

    const std::string path = writeLog(1000);
    prompts.fileAnswers.push_back(path);
    button(d, res::kPlaybackOpenFile)->click();
    EXPECT_EQ(d.fileBox()->text().toStdString(), path);
    for (const Control& c : controls)
        EXPECT_TRUE(button(d, c.id)->isEnabled()) << c.caption;
    ChunkSlider* t = d.trackbar();
    EXPECT_TRUE(t->isEnabled());
    EXPECT_EQ(t->minimum(), 0);
    EXPECT_EQ(t->maximum(), 999);
    EXPECT_EQ(t->tickInterval(), 999);  // a tick at each end only
    EXPECT_EQ(t->value(), 0);
    EXPECT_EQ(t->selectionStart(), 0);
    EXPECT_EQ(t->selectionEnd(), chart.capacity());
    EXPECT_EQ(live.exhaust_temp, 0);
    EXPECT_GT(repaints, 0);
    EXPECT_FALSE(d.statusLine()->isVisibleTo(&d));

    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    snapshot(d.grab(), "playback_dialog");
    // Nothing is cut off: every control gets at least the room it asks for.
    for (QWidget* w : d.findChildren<QWidget*>()) {
        if (!w->isVisible() || qobject_cast<QLabel*>(w) == nullptr) continue;
        EXPECT_GE(w->width(), w->minimumSizeHint().width()) << w->objectName().toStdString();
    }
    for (const Control& c : controls)
        EXPECT_GE(button(d, c.id)->width(), button(d, c.id)->sizeHint().width()) << c.caption;
}

TEST_F(PlaybackDialogTest, TheTrackbarAndTheButtonsMoveThroughTheFile) {
    PlaybackDialog& d = make();
    prompts.fileAnswers.push_back(writeLog(1000));
    button(d, res::kPlaybackOpenFile)->click();
    const int cap = chart.capacity();
    ASSERT_GT(cap, 100);
    ASSERT_LT(cap, 500);

    // A move of the user's: the record there is shown before the repaint.
    d.trackbar()->setValue(cap + 5);
    EXPECT_EQ(player.playbackPosition(), cap + 5);
    EXPECT_EQ(live.exhaust_temp, (cap + 5) * 10);
    EXPECT_EQ(chart.displayIndex(), 6);
    EXPECT_EQ(d.trackbar()->selectionStart(), cap);
    EXPECT_EQ(d.trackbar()->selectionEnd(), 2 * cap);

    struct Press {
        int id;
        bool timerRuns;
        int interval;
    } const presses[] = {
        {res::kPlaybackPlay, true, 100},
        {res::kPlaybackFastForward, true, 5},
        {res::kPlaybackFastReverse, true, 5},
        {res::kPlaybackPause, false, 0},
    };
    for (const Press& p : presses) {
        button(d, p.id)->click();
        EXPECT_EQ(d.timer()->isActive(), p.timerRuns) << p.id;
        if (p.timerRuns) {
            EXPECT_EQ(d.timer()->interval(), p.interval) << p.id;
        }
    }

    // Fast play runs on the timer: the position, the trackbar and the panel's record move
    // together.
    button(d, res::kPlaybackFastForward)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.playbackPosition() > cap + 30; }, 5000));
    button(d, res::kPlaybackPause)->click();
    const int at = player.playbackPosition();
    EXPECT_EQ(d.trackbar()->value(), at);
    EXPECT_EQ(live.exhaust_temp, at * 10);
    QTest::qWait(50);
    EXPECT_EQ(player.playbackPosition(), at);  // paused

    button(d, res::kPlaybackStop)->click();
    EXPECT_EQ(player.playbackPosition(), 1);
    EXPECT_EQ(d.trackbar()->value(), 1);
    EXPECT_EQ(live.exhaust_temp, 10);
    EXPECT_FALSE(d.timer()->isActive());
    EXPECT_EQ(d.trackbar()->selectionStart(), 0);
}

TEST_F(PlaybackDialogTest, AFileThatCannotBePlayedIsNamedAndNothingIsEnabled) {
    PlaybackDialog& d = make();
    const std::string missing = (dir / "log_2014_5_24_9.log").string();
    prompts.fileAnswers.push_back(missing);
    button(d, res::kPlaybackOpenFile)->click();
    EXPECT_TRUE(d.statusLine()->isVisibleTo(&d));
    EXPECT_EQ(d.statusLine()->text().toStdString(), "Cannot open " + missing);
    EXPECT_FALSE(button(d, res::kPlaybackPlay)->isEnabled());
    EXPECT_FALSE(d.trackbar()->isEnabled());
    EXPECT_EQ(d.trackbar()->maximum(), 0);

    // The file vanishes while it plays: play stops where it was and says why.
    const std::string path = writeLog(1000);
    prompts.fileAnswers.push_back(path);
    button(d, res::kPlaybackOpenFile)->click();
    EXPECT_FALSE(d.statusLine()->isVisibleTo(&d));
    fs::remove(path);
    button(d, res::kPlaybackFastForward)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.timer()->isActive(); }, 10000));
    EXPECT_EQ(player.playbackPosition(), chart.capacity() - 1);
    EXPECT_EQ(d.trackbar()->value(), chart.capacity() - 1);
    EXPECT_EQ(live.exhaust_temp, (chart.capacity() - 1) * 10);
    EXPECT_EQ(d.statusLine()->text().toStdString(), "Cannot open " + path);
}

TEST_F(PlaybackDialogTest, ARecordThatCannotHaveBeenLoggedIsCalledDamagedOnTheStatusLine) {
    PlaybackDialog& d = make();
    const std::int32_t hour = localHourStart(2014, 5, 24, 13);
    std::vector<LogRecord> records;
    for (int n = 0; n < 7; ++n)
        records.push_back(engineRecord(n));
    records[1].values[15] = -1515870811;  // engine speed: no 16-bit register holds it
    records[2].time = -1546300800;        // 1921
    records[3].time = hour + 3600 + 600;  // ten minutes into the next hour
    records[4].time = hour - 600;         // ten minutes before the hour
    records[5].time = hour + 3600 + 5;    // the hour change noticed a tick late: fine
    prompts.fileAnswers.push_back(writeRecords(records));
    button(d, res::kPlaybackOpenFile)->click();
    ASSERT_TRUE(player.loaded());
    struct Case {
        int position;
        const char* says;  // nullptr: the status line is hidden
    } const cases[] = {
        {1, "-1515870811"},
        {0, nullptr},
        {2, "before 1980"},
        {3, "outside the file's hour"},
        {4, "outside the file's hour"},
        {5, nullptr},
        {6, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        d.trackbar()->setValue(c.position);
        ASSERT_EQ(player.playbackPosition(), c.position);
        const std::string text = d.statusLine()->text().toStdString();
        EXPECT_EQ(d.statusLine()->isVisibleTo(&d), c.says != nullptr) << text;
        if (c.says) {
            EXPECT_NE(text.find("Record " + std::to_string(c.position) + " is damaged"),
                      std::string::npos)
                << text;
            EXPECT_NE(text.find(c.says), std::string::npos) << text;
        }
    }
}

TEST_F(PlaybackDialogTest, TheTimeAxisHoldsOnlyTheTimesOfTheChunkShown) {
    PlaybackDialog& d = make();
    prompts.fileAnswers.push_back(writeLog(1000));
    button(d, res::kPlaybackOpenFile)->click();
    const int cap = chart.capacity();
    // The last chunk is shorter than the ones before it.
    d.trackbar()->setValue(999);
    ASSERT_EQ(player.chunkFirst(), 999 / cap * cap);
    const auto staleFrom = [&](int held) {
        for (int k = held + 1; k <= cap + 1; ++k)
            if (chart.timeStamp(k) != 0) return k;
        return -1;
    };
    EXPECT_EQ(staleFrom(player.chunkLast() - player.chunkFirst() + 1), -1);

    // A shorter file after a longer one.
    prompts.fileAnswers.push_back(writeLog(5, 14));
    button(d, res::kPlaybackOpenFile)->click();
    ASSERT_EQ(player.lastRecordIndex(), 4);
    EXPECT_EQ(staleFrom(5), -1);
    EXPECT_EQ(chart.timeStamp(5), engineRecord(4, 14).time);
}

TEST_F(PlaybackDialogTest, PageKeysAndGrooveClicksMoveThreeHundredRecordsAlongTheFile) {
    PlaybackDialog& d = make();
    prompts.fileAnswers.push_back(writeLog(1000));
    button(d, res::kPlaybackOpenFile)->click();
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    ChunkSlider* t = d.trackbar();
    EXPECT_EQ(t->pageStep(), 300);
    t->setFocus();
    QStyleOptionSlider opt;
    opt.initFrom(t);
    opt.orientation = t->orientation();
    opt.minimum = t->minimum();
    opt.maximum = t->maximum();
    const QRect groove =
        t->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, t);
    const QPoint rightEnd(groove.right() - 2, groove.center().y());
    const QPoint leftEnd(groove.left() + 2, groove.center().y());
    struct Step {
        const char* what;
        std::function<void()> act;
        int position;
    } const steps[] = {
        {"Page Down", [&] { QTest::keyClick(t, Qt::Key_PageDown); }, 300},
        {"Page Down again", [&] { QTest::keyClick(t, Qt::Key_PageDown); }, 600},
        {"Page Up", [&] { QTest::keyClick(t, Qt::Key_PageUp); }, 300},
        {"click right of the handle", [&] { QTest::mouseClick(t, Qt::LeftButton, {}, rightEnd); },
         600},
        {"click left of the handle", [&] { QTest::mouseClick(t, Qt::LeftButton, {}, leftEnd); },
         300},
        {"Page Up to the start", [&] { QTest::keyClick(t, Qt::Key_PageUp); }, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.act();
        EXPECT_EQ(t->value(), s.position);
        EXPECT_EQ(player.playbackPosition(), s.position);
        EXPECT_EQ(live.exhaust_temp, s.position * 10);
    }
}

TEST_F(PlaybackDialogTest, TheChosenDayOffersExactlyItsOwnFilesInHourOrder) {
    const char* const dayOne[] = {"log_2026_3_1_0.log",  "log_2026_3_1_1.log",
                                  "log_2026_3_1_2.log",  "log_2026_3_1_10.log",
                                  "log_2026_3_1_11.log", "log_2026_3_1_23.log"};
    const char* const others[] = {"log_2026_3_12_5.log", "log_2026_3_15_1.log", "log_2026_3_1.log",
                                  "log_2026_3_11_0.log"};
    for (const char* name :
         {"log_2026_3_1_11.log", "log_2026_3_1_2.log", "log_2026_3_12_5.log", "log_2026_3_1_0.log",
          "log_2026_3_15_1.log", "log_2026_3_1_23.log", "log_2026_3_1_1.log", "log_2026_3_1.log",
          "log_2026_3_11_0.log", "log_2026_3_1_x.log", "log_2026_3_1_24.log"})
        std::ofstream(dir / name) << "";
    // A real hour among them.
    const LocalDateTime at{2026, 3, 1, 10, 0, 0, 0, 0};
    {
        LogWriter writer(dir.string(), [at] { return at; });
        writer.openLogFile(LogWriter::kRequestHeader, 113);
        for (int n = 0; n < 10; ++n) {
            LogRecord r = engineRecord(n);
            r.time = localHourStart(2026, 3, 1, 10) + n;
            writer.appendLogRecord(r);
        }
        writer.closeLogFile();
    }

    PlaybackDialog& d = make();
    d.datePicker()->setDate(QDate(2026, 3, 1));
    button(d, res::kPlaybackOpenFile)->click();
    ASSERT_EQ(prompts.fileDialogs.size(), 1u);
    const std::string pattern = prompts.fileDialogs[0].request.filters.at(0).pattern;
    EXPECT_EQ(pattern, "log_2026_3_1_*.log");
    const QRegularExpression filter(
        QRegularExpression::wildcardToRegularExpression(QString::fromStdString(pattern)));
    for (const char* name : dayOne)
        EXPECT_TRUE(filter.match(QString::fromUtf8(name)).hasMatch()) << name;
    for (const char* name : others)
        EXPECT_FALSE(filter.match(QString::fromUtf8(name)).hasMatch()) << name;

    // The dialog's own list of the day, by hour.
    auto* hours = d.findChild<QComboBox*>(QStringLiteral("hours"));
    ASSERT_NE(hours, nullptr);
    QStringList listed;
    for (int i = 0; i < hours->count(); ++i)
        listed << hours->itemText(i);
    QStringList expected;
    for (const char* name : dayOne)
        expected << QString::fromUtf8(name);
    EXPECT_EQ(listed, expected);
    EXPECT_FALSE(player.loaded());  // listing opens nothing

    // Choosing an hour plays it.
    emit hours->activated(3);
    EXPECT_TRUE(player.loaded());
    EXPECT_EQ(player.path(), (dir / "log_2026_3_1_10.log").string());
    EXPECT_EQ(d.fileBox()->text().toStdString(), player.path());
    EXPECT_EQ(player.lastRecordIndex(), 9);

    // Another day lists its own.
    d.datePicker()->setDate(QDate(2026, 3, 12));
    ASSERT_EQ(hours->count(), 1);
    EXPECT_EQ(hours->itemText(0), "log_2026_3_12_5.log");

    // An hour logged since the day was chosen shows when the list is opened.
    std::ofstream(dir / "log_2026_3_12_7.log") << "";
    EXPECT_TRUE(hours->isEnabled());
    hours->showPopup();
    hours->hidePopup();
    ASSERT_EQ(hours->count(), 2);
    EXPECT_EQ(hours->itemText(1), "log_2026_3_12_7.log");
    d.datePicker()->setDate(QDate(2026, 3, 13));
    EXPECT_EQ(hours->count(), 0);
    EXPECT_TRUE(hours->isEnabled());  // so that it can be opened again to look
}

// The real window: record from the simulator, then play it back.
class PlaybackWindowTest : public ::testing::Test {
  protected:
    PlaybackWindowTest() : dir(freshTestDir("kvx_playback_e2e_")) {}
    ~PlaybackWindowTest() override {
        window.reset();
        link.reset();
        sim.stop();
        fs::remove_all(dir);
    }
    void make() {
        ASSERT_EQ(sim.start(), 0);
        fs::create_symlink(sim.devicePath(), dir / "COM5");
        link = std::make_unique<RtuDeviceLink>(dir.string() + "/");
        WindowParams p;
        p.programDir = dir.string() + "/";
        p.link = link.get();
        p.prompts = &prompts;
        p.replyTimeoutMs = 150;
        p.terminate = [](int) {};
        window = std::make_unique<MainWindow>(p);
    }
    bool nextPaint(int timeoutMs = 5000) {
        const int n = window->paintCount();
        return QTest::qWaitFor([&] { return window->paintCount() > n; }, timeoutMs);
    }
    // The logged fields of what the panel shows now.
    LogRecord shown() const { return LogRecord::fromLiveData(0, window->panelInputs().live); }

    fs::path dir;
    sim::SimServer sim;
    std::unique_ptr<RtuDeviceLink> link;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
};

TEST_F(PlaybackWindowTest, ARecordedRunPlaysBackThroughThePanelUntilConnect) {
    make();
    window->startUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->logWriter().isOpen(); }, 3000));
    const std::string path = window->logWriter().path();
    // Some seconds of a running engine, so records differ.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return window->controller().state().goodTicks > 25 &&
                   window->panelFeed().live.engine_speed > 300;
        },
        15000));

    prompts.fileAnswers.push_back(path);
    std::vector<LogRecord> records;
    bool ran = false;
    whenModal(QString::number(res::kPlaybackDialog), [&](QWidget& w) {
        auto& d = static_cast<PlaybackDialog&>(w);
        ran = true;
        // Entering playback stopped polling and closed the log file: it can be read whole.
        EXPECT_TRUE(window->panelFeed().playback());
        EXPECT_FALSE(window->timers().isArmed(kTimerPoll));
        EXPECT_FALSE(window->logWriter().isOpen());
        EXPECT_EQ(window->controller().state().commStatus, 100);
        LogReader reader;
        ASSERT_EQ(reader.open(path), LOG_OK);
        records.resize(static_cast<std::size_t>(reader.recordCount()));
        ASSERT_EQ(reader.readRecords(0, reader.recordCount(), records.data()),
                  reader.recordCount());
        ASSERT_GT(records.size(), 20u);

        button(d, res::kPlaybackOpenFile)->click();
        EXPECT_EQ(window->windowTitle(), "KVX, Firmware ver: 1.17");
        EXPECT_EQ(d.trackbar()->maximum(), static_cast<int>(records.size()) - 1);
        ASSERT_TRUE(nextPaint());
        EXPECT_EQ(shown().values, records[0].values);
        snapshot(window->panelView()->grab(), "playback_panel_record_0");

        const int far = static_cast<int>(records.size()) - 2;
        d.trackbar()->setValue(far);
        ASSERT_TRUE(nextPaint());
        EXPECT_EQ(shown().values, records[static_cast<std::size_t>(far)].values);
        // The chart's cursor is on the same record.
        const TrendChart& chart = window->panel().chart();
        EXPECT_EQ(chart.displayIndex(), far - window->player().chunkFirst() + 1);
        EXPECT_DOUBLE_EQ(chart.rawValue(8, chart.displayIndex()),
                         records[static_cast<std::size_t>(far)].values[15]);
        snapshot(window->panelView()->grab(), "playback_panel_record_last");
        EXPECT_NE(records[0].values, records[static_cast<std::size_t>(far)].values);

        // Play to the end: it stops on record 1.
        button(d, res::kPlaybackPlay)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !d.timer()->isActive(); }, 5000));
        EXPECT_EQ(window->player().playbackPosition(), 1);
        ASSERT_TRUE(nextPaint());
        EXPECT_EQ(shown().values, records[1].values);
        press(d, "2");
    });
    window->onCommand(res::kCmdPlayback);
    ASSERT_TRUE(ran);
    ASSERT_TRUE(prompts.boxes.empty());
    ASSERT_EQ(prompts.fileDialogs.size(), 1u);

    // Playback mode outlasts the dialog: no polling, the panel stays on record 1.
    QTest::qWait(600);
    EXPECT_TRUE(window->panelFeed().playback());
    EXPECT_FALSE(window->timers().isArmed(kTimerPoll));
    EXPECT_EQ(window->statusPart(3), "Communication Status: Playback Mode");
    EXPECT_EQ(shown().values, records[1].values);

    // Connect ends it.
    window->onCommand(res::kCmdConnect);
    EXPECT_FALSE(window->panelFeed().playback());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->statusPart(3) == "Communication Status: Receiving data"; }, 3000));
}

// The real window over a fake controller, for playing files the test writes.
class PlaybackFileWindowTest : public ::testing::Test {
  protected:
    PlaybackFileWindowTest() : dir(freshTestDir("kvx_playback_file_")) {
        WindowParams p;
        p.programDir = dir.string() + "/";
        p.link = &link;
        p.prompts = &prompts;
        p.terminate = [](int) {};
        window = std::make_unique<MainWindow>(p);
        window->setGeometry(0, 0, 1280, 900);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    ~PlaybackFileWindowTest() override {
        window.reset();
        fs::remove_all(dir);
    }
    std::string writeLog(int records, int hour, bool header) {
        const LocalDateTime at{2014, 5, 24, hour, 0, 0, 0, 0};
        LogWriter writer(dir.string(), [at] { return at; });
        writer.openLogFile(header ? LogWriter::kRequestHeader : LogWriter::kRequestConnect, 117);
        for (int n = 0; n < records; ++n)
            writer.appendLogRecord(engineRecord(n, hour));
        writer.closeLogFile();
        return logFilePath(dir.string(), at);
    }
    bool nextPaint() {
        const int n = window->paintCount();
        return QTest::qWaitFor([&] { return window->paintCount() > n; }, 5000);
    }

    fs::path dir;
    FakeLink link;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
};

TEST_F(PlaybackFileWindowTest, AZoomOrAResizeCutsTheChunkAnewAtOnceAndTheCursorStaysInThePlot) {
    prompts.fileAnswers.push_back(writeLog(3000, 13, true));
    window->onCommand(res::kCmdZoomIn);
    bool ran = false;
    // Nothing in here may return early: the dialog must be closed for the test to go on.
    whenModal(QString::number(res::kPlaybackDialog), [&](QWidget& w) {
        ran = true;
        auto& d = static_cast<PlaybackDialog&>(w);
        const LogPlayer& player = window->player();
        const TrendChart& chart = window->panel().chart();
        button(d, res::kPlaybackOpenFile)->click();
        EXPECT_TRUE(nextPaint());
        // Near the end of a wide chunk, which a narrower chart cannot hold.
        d.trackbar()->setValue(chart.capacity() - 10);
        const int position = player.playbackPosition();
        EXPECT_TRUE(nextPaint());
        struct Change {
            const char* what;
            std::function<void()> act;
        } const changes[] = {
            {"zoom out", [&] { window->onCommand(res::kCmdZoomOut); }},
            {"zoom in", [&] { window->onCommand(res::kCmdZoomIn); }},
            {"zoom out again", [&] { window->onCommand(res::kCmdZoomOut); }},
            {"a smaller window", [&] { window->resize(900, 700); }},
            {"a larger window", [&] { window->resize(1280, 900); }},
        };
        for (const Change& c : changes) {
            SCOPED_TRACE(c.what);
            const int capacityBefore = chart.capacity();
            c.act();
            EXPECT_TRUE(nextPaint());
            QTest::qWait(50);
            EXPECT_NE(chart.capacity(), capacityBefore);
            const TrendChart::Plot plot = chart.plot();
            const int cursorX = chart.pixelsPerSample() * chart.displayIndex() + plot.left;
            EXPECT_GE(cursorX, plot.left);
            EXPECT_LE(cursorX, plot.right);
            EXPECT_EQ(player.playbackPosition(), position);
            EXPECT_EQ(chart.displayIndex(), position - player.chunkFirst() + 1);
            EXPECT_LE(player.chunkLast() - player.chunkFirst(), chart.capacity());
            EXPECT_EQ(window->panelInputs().live.exhaust_temp, position * 10);
            EXPECT_EQ(d.trackbar()->selectionStart(), player.chunkFirst());
            EXPECT_EQ(d.trackbar()->selectionEnd(), player.chunkLast());
        }
        snapshot(window->panelView()->grab(), "playback_after_zoom_and_resize");
        press(d, "2");
    });
    window->onCommand(res::kCmdPlayback);
    EXPECT_TRUE(ran);
}

TEST_F(PlaybackFileWindowTest, TheTitleIsAFilesHeaderOnlyWhileThatFileIsPlayed) {
    const std::string before = window->windowTitle().toStdString();
    ASSERT_EQ(before, startTitle());
    prompts.fileAnswers.push_back(writeLog(400, 13, true));
    prompts.fileAnswers.push_back(writeLog(400, 14, false));
    prompts.fileAnswers.push_back(writeLog(400, 13, true));
    bool ran = false;
    whenModal(QString::number(res::kPlaybackDialog), [&](QWidget& w) {
        ran = true;
        auto& d = static_cast<PlaybackDialog&>(w);
        button(d, res::kPlaybackOpenFile)->click();
        EXPECT_EQ(window->windowTitle(), "KVX, Firmware ver: 1.17");
        button(d, res::kPlaybackOpenFile)->click();  // no header
        EXPECT_EQ(window->windowTitle().toStdString(), before);
        button(d, res::kPlaybackOpenFile)->click();
        EXPECT_EQ(window->windowTitle(), "KVX, Firmware ver: 1.17");
        press(d, "2");
    });
    window->onCommand(res::kCmdPlayback);
    ASSERT_TRUE(ran);
    EXPECT_EQ(window->windowTitle(), "KVX, Firmware ver: 1.17");  // playback outlasts the dialog

    // Connect ends playback, and the log's title with it.
    window->onCommand(res::kCmdConnect);
    ASSERT_FALSE(window->panelFeed().playback());
    EXPECT_EQ(window->windowTitle().toStdString(), before);
}

// Fast play steps far more records than the panel is composed, and the window gets only the
// parts of each picture that changed: paused, what is on the screen must be the whole picture of
// the record at the position.
TEST(PlaybackScreenTest, AfterFastPlayTheScreenShowsThePictureOfTheRecordAtThePosition) {
    const fs::path dir = freshTestDir("kvx_fast_play_");
    const LocalDateTime at{2014, 5, 24, 13, 0, 0, 0, 0};
    {
        LogWriter writer(dir.string(), [at] { return at; });
        writer.openLogFile(LogWriter::kRequestHeader, 117);
        for (int n = 0; n < 3000; ++n) {
            LogRecord r = engineRecord(n);
            // Values that sweep the dials and bars and draw traces across the chart.
            for (int i = 0; i < kLogValueCount; ++i)
                r.values[static_cast<std::size_t>(i)] =
                    static_cast<std::int16_t>((n * 7 + i * 131) % 1000);
            writer.appendLogRecord(r);
        }
        writer.closeLogFile();
    }
    FakeLink link;
    ScriptedPrompts prompts;
    prompts.fileAnswers.push_back(logFilePath(dir.string(), at));
    WindowParams p;
    p.programDir = dir.string() + "/";
    p.link = &link;
    p.prompts = &prompts;
    p.terminate = [](int) {};
    MainWindow window(p);
    window.setGeometry(0, 0, 1280, 900);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    bool ran = false;
    whenModal(QString::number(res::kPlaybackDialog), [&](QWidget& w) {
        ran = true;
        button(w, res::kPlaybackOpenFile)->click();
        const int from = window.player().playbackPosition();
        const int composed = window.paintCount();
        button(w, res::kPlaybackFastForward)->click();
        QTest::qWait(1500);
        button(w, res::kPlaybackPause)->click();
        const int stepped = window.player().playbackPosition() - from;
        EXPECT_GT(stepped, 100);
        EXPECT_LT(window.paintCount() - composed, stepped);

        // The pause asks for one more picture; once it is on the screen, compare.
        const int paused = window.paintCount();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.paintCount() > paused; }, 3000));
        QTest::qWait(100);
        const int position = window.player().playbackPosition();
        EXPECT_EQ(
            LogRecord::fromLiveData(0, window.panelInputs().live).values,
            window.player()
                .chunkRecords()[static_cast<std::size_t>(position - window.player().chunkFirst())]
                .values);
        PanelView& view = *window.panelView();
        const QPoint origin = view.mapTo(&window, QPoint(0, 0));
        const QImage onScreen =
            window.screen()
                ->grabWindow(window.winId(), origin.x(), origin.y(), view.width(), view.height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        const QImage composedNow = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(onScreen.size(), composedNow.size());
        int differing = 0;
        for (int y = 0; y < onScreen.height(); ++y)
            for (int x = 0; x < onScreen.width(); ++x)
                if (onScreen.pixel(x, y) != composedNow.pixel(x, y)) ++differing;
        EXPECT_EQ(differing, 0);
        snapshot(QPixmap::fromImage(onScreen), "fast_play_paused_on_screen");
        press(w, "2");
    });
    window.onCommand(res::kCmdPlayback);
    EXPECT_TRUE(ran);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kvx::test
