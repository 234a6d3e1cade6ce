// The Traffic window on the offscreen platform: its ring switched on while shown and off when
// closed (not while a network open runs), lines in the link's format with errors in colour,
// the verdict filter, Pause, Clear, the bound on the lines kept, and Save as text with its
// replace question.
#include "app/traffic_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QBrush>
#include <QComboBox>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <fstream>
#include <iterator>

#include "app/main_window.h"
#include "link/result_codes.h"
#include "resources/resource_ids.h"
#include "tests/support/fake_link.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

// A link that takes a ring and lets the test record into it, as the masters would.
class RecordingLink : public FakeLink {
  public:
    bool setTrafficRing(TrafficRing* r) override {
        ++switches;
        ring = r;
        return true;
    }
    void request(std::uint8_t function = 4) {
        const std::uint8_t bytes[] = {1, function, 0, 0, 0, 0x2C, 0xF1, 0xDE};
        ring->recordRequest(TrafficFraming::rtu, bytes, sizeof bytes, 1, MBR_SUCCESS);
    }
    void reply(int result, std::vector<std::uint8_t> bytes = {1, 4, 2, 0, 7, 0xB9, 0x87}) {
        const TrafficVerdict verdict =
            result > MBR_EXCEPTION ? TrafficVerdict::exception : trafficVerdictOf(result);
        ring->recordReply(TrafficFraming::rtu, bytes.data(), static_cast<int>(bytes.size()), 1,
                          result, verdict, TrafficRing::nowUs() - 105200);
    }

    TrafficRing* ring = nullptr;
    int switches = 0;
};

class TrafficWindowTest : public ::testing::Test {
  protected:
    TrafficWindowTest() : dir(freshTestDir("kvx_traffic_")) {}
    ~TrafficWindowTest() override {
        window.reset();
        fs::remove_all(dir);
    }
    void make(std::size_t ringFrames = 64) {
        window = std::make_unique<TrafficWindow>(
            prompts, link, [this] { return busy; }, nullptr, ringFrames);
        window->show();
    }
    QStringList shown() const {
        QStringList out;
        const TrafficLines& lines = window->lines();
        for (int r = 0; r < lines.rowCount(); ++r)
            out << lines.shownLine(r).text;
        return out;
    }
    std::string fileText(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir;
    RecordingLink link;
    ScriptedPrompts prompts;
    bool busy = false;
    std::unique_ptr<TrafficWindow> window;
};

TEST_F(TrafficWindowTest, RecordsOnlyWhileShownAndNeverSwitchesDuringAnOpen) {
    busy = true;
    make();
    // A network open is running: the ring waits, and so does the window.
    EXPECT_EQ(link.ring, nullptr);
    window->readRing();
    EXPECT_EQ(link.ring, nullptr);
    busy = false;
    window->readRing();
    ASSERT_NE(link.ring, nullptr);
    EXPECT_TRUE(window->recording());
    link.request();
    window->readRing();

    // Closed during an open: the link keeps its ring until the open has ended.
    busy = true;
    window->close();
    EXPECT_NE(link.ring, nullptr);
    busy = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.ring == nullptr; }, 3000));
    EXPECT_FALSE(window->recording());

    // Shown again: a new ring, and the lines go on after the old ones.
    window->show();
    ASSERT_NE(link.ring, nullptr);
    link.request();
    window->readRing();
    EXPECT_EQ(window->lines().rowCount(), 2);
    window.reset();
    EXPECT_EQ(link.ring, nullptr);
}

TEST_F(TrafficWindowTest, ALinkWithoutFramesSaysSoAndIsNotAskedAgain) {
    FakeLink plain;
    TrafficWindow w(prompts, plain, [] { return false; });
    w.show();
    w.readRing();
    w.readRing();
    EXPECT_FALSE(w.recording());
    EXPECT_EQ(w.statusText(), QStringLiteral("This connection has no frames to show."));
    EXPECT_EQ(w.lines().rowCount(), 0);
}

TEST_F(TrafficWindowTest, LinesInTheLinkFormatWithErrorsInColourAndTheFilter) {
    make();
    link.request();
    link.reply(MBR_SUCCESS);
    link.request();
    link.reply(MBR_CRC_MISMATCH, {1, 4, 2, 0, 7, 0, 0});
    link.request();
    link.reply(MBR_REPLY_TIMEOUT, {});
    link.request();
    link.reply(mbrException(2), {1, 0x84, 2, 0xC2, 0xC1});
    std::vector<TrafficFrame> frames;
    link.ring->readSince(0, frames);
    ASSERT_EQ(frames.size(), 8u);
    window->readRing();

    QStringList expected;
    for (const TrafficFrame& f : frames)
        expected << QString::fromStdString(formatTrafficLine(f));
    EXPECT_EQ(shown().join('\n').toStdString(), expected.join('\n').toStdString());
    EXPECT_TRUE(expected[1].endsWith(QStringLiteral(" good (105.2 ms)")))
        << expected[1].toStdString();

    // Failed replies in red; a good one in the view's own colour.
    const TrafficLines& lines = window->lines();
    auto colour = [&](int row) {
        return lines.data(lines.index(row), Qt::ForegroundRole).value<QBrush>().color();
    };
    EXPECT_FALSE(lines.data(lines.index(1), Qt::ForegroundRole).isValid());
    for (int row : {3, 5, 7})
        EXPECT_EQ(colour(row), QColor(0xc0, 0x00, 0x00)) << row;
    EXPECT_NE(colour(0), colour(3));

    const struct {
        const char* caption;
        std::vector<int> rows;  // of frames, in order
    } filters[] = {
        {"All frames", {0, 1, 2, 3, 4, 5, 6, 7}},
        {"Requests", {0, 2, 4, 6}},
        {"Replies", {1, 3, 5, 7}},
        {"Errors", {3, 5, 7}},
        {"Good replies", {1}},
        {"CRC errors", {3}},
        {"Time-outs", {5}},
        {"Exceptions", {7}},
        {"Mismatches (transaction, shape)", {}},
    };
    for (const auto& f : filters) {
        const int index = window->filterBox()->findText(QString::fromUtf8(f.caption));
        ASSERT_GE(index, 0) << f.caption;
        window->filterBox()->setCurrentIndex(index);
        QStringList want;
        for (int r : f.rows)
            want << expected[r];
        EXPECT_EQ(shown().join('\n').toStdString(), want.join('\n').toStdString()) << f.caption;
    }
    // A filter also holds for what comes after it was chosen.
    link.request();
    link.reply(MBR_FRAME_MISMATCH, {2, 4, 2, 0, 7, 0, 0});
    window->readRing();
    ASSERT_EQ(shown().size(), 1);
    EXPECT_TRUE(shown()[0].endsWith(QStringLiteral(" mismatch (105.2 ms)")))
        << shown()[0].toStdString();
}

// Every verdict a master reaches has a filter of its own that shows that line alone, in the
// colour of its kind: failures red, what the master passed over amber.
TEST_F(TrafficWindowTest, EveryVerdictCanBeChosenAndIsColouredByItsKind) {
    make();
    window->readRing();
    ASSERT_NE(link.ring, nullptr);
    const QColor red(0xc0, 0x00, 0x00), amber(0x9a, 0x60, 0x00);
    using V = TrafficVerdict;
    const struct {
        V verdict;
        QColor colour;  // invalid: the view's own
    } cases[] = {
        {V::good, {}},        {V::timeout, red},       {V::truncated, red}, {V::badCrc, red},
        {V::wrongSlave, red}, {V::wrongFunction, red}, {V::mismatch, red},  {V::exception, red},
        {V::ioFailure, red},  {V::passedOver, amber},  {V::echo, amber},    {V::noise, amber},
    };
    // Every verdict of a reply is in the table.
    EXPECT_EQ(std::size(cases), static_cast<std::size_t>(kTrafficVerdicts - 2));
    const std::uint8_t bytes[] = {1, 0x84, 2, 0xC2, 0xC1};
    for (const auto& c : cases)
        link.ring->recordReply(TrafficFraming::rtu, bytes, sizeof bytes, 1, mbrException(2),
                               c.verdict, TrafficRing::nowUs());
    window->readRing();
    for (const auto& c : cases) {
        SCOPED_TRACE(trafficVerdictName(c.verdict));
        int chosen = -1;
        for (int i = 0; i < window->filterBox()->count(); ++i) {
            window->setFilterIndex(i);
            const TrafficFilter& f = window->lines().filter();
            if (f.mode == TrafficFilter::OneVerdict && f.verdict == static_cast<int>(c.verdict))
                chosen = i;
        }
        ASSERT_GE(chosen, 0) << "no filter for it";
        window->setFilterIndex(chosen);
        ASSERT_EQ(shown().size(), 1);
        EXPECT_TRUE(shown()[0].contains(QString::fromUtf8(trafficVerdictName(c.verdict))));
        const TrafficLines& lines = window->lines();
        const QVariant fg = lines.data(lines.index(0), Qt::ForegroundRole);
        if (c.colour.isValid())
            EXPECT_EQ(fg.value<QBrush>().color(), c.colour);
        else
            EXPECT_FALSE(fg.isValid());
    }
}

TEST_F(TrafficWindowTest, PauseHoldsTheViewWhileRecordingGoesOnAndClearEmptiesIt) {
    make();
    link.request();
    window->readRing();
    window->pauseButton()->click();
    EXPECT_TRUE(window->paused());
    EXPECT_EQ(window->pauseButton()->text(), QStringLiteral("Resume"));
    link.reply(MBR_SUCCESS);
    link.request();
    window->readRing();
    EXPECT_EQ(shown().size(), 1);
    EXPECT_EQ(window->lines().keptCount(), 3u);
    // Another filter while paused picks from what was there when it was paused.
    window->setFilterIndex(window->filterBox()->findText(QStringLiteral("Replies")));
    EXPECT_EQ(shown().size(), 0);
    window->setFilterIndex(0);
    EXPECT_EQ(shown().size(), 1);

    window->pauseButton()->click();
    EXPECT_FALSE(window->paused());
    EXPECT_EQ(shown().size(), 3);

    window->findChild<QPushButton*>(QStringLiteral("clear"))->click();
    EXPECT_EQ(shown().size(), 0);
    EXPECT_EQ(window->lines().keptCount(), 0u);
    link.reply(MBR_SUCCESS);
    window->readRing();
    EXPECT_EQ(shown().size(), 1);
}

TEST_F(TrafficWindowTest, TheNewestLineStaysInViewUnlessTheUserScrolledUp) {
    make();
    window->resize(600, 200);
    QScrollBar* bar = window->view()->verticalScrollBar();
    auto tick = [&](int frames) {
        for (int i = 0; i < frames; ++i)
            link.request();
        window->readRing();
        QApplication::processEvents();  // the view lays the new rows out
    };
    for (int read = 0; read < 5; ++read)
        tick(20);
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    // Scrolled up by the user, the lines stay where they were put.
    bar->setValue(bar->maximum() / 2);
    const int at = bar->value();
    tick(20);
    EXPECT_EQ(bar->value(), at);
    EXPECT_LT(bar->value(), bar->maximum());
    // Back at the bottom, it follows again.
    bar->setValue(bar->maximum());
    tick(20);
    tick(20);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(TrafficWindowTest, LinesAreBoundedAndFramesTheRingLostAreNamed) {
    make(/*ringFrames=*/4096);
    // Well past the bound, in reads of a few hundred frames, as a busy line would give them.
    const std::size_t bound = TrafficWindow::kLinesKept;
    for (int read = 0; read < 30; ++read) {
        for (int i = 0; i < 100; ++i) {
            link.request();
            link.reply(i % 10 ? MBR_SUCCESS : MBR_REPLY_TIMEOUT, {});
        }
        window->readRing();
        ASSERT_LE(static_cast<std::size_t>(window->lines().rowCount()), bound);
    }
    EXPECT_EQ(window->lines().keptCount(), bound);
    EXPECT_EQ(static_cast<std::size_t>(window->lines().rowCount()), bound);
    // The newest is at the bottom.
    std::vector<TrafficFrame> newest;
    link.ring->readSince(link.ring->lastSequence() - 1, newest);
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(shown().back(), QString::fromStdString(formatTrafficLine(newest[0])));

    // More frames between two reads than the ring holds: the window says how many it missed.
    for (int i = 0; i < 5000; ++i)
        link.request();
    window->readRing();
    const QStringList lines = shown();
    const QString note =
        QStringLiteral("... 904 frame(s) passed before the window could show them");
    EXPECT_EQ(lines.count(note), 1);
    EXPECT_EQ(lines[static_cast<int>(bound) - 4097], note);
}

TEST_F(TrafficWindowTest, SaveAsTextWritesTheLinesShownAndAsksBeforeReplacing) {
    make();
    link.request();
    link.reply(MBR_SUCCESS);
    link.request();
    link.reply(MBR_CRC_MISMATCH, {1, 4, 2, 0, 7, 0, 0});
    window->readRing();
    window->setFilterIndex(window->filterBox()->findText(QStringLiteral("Errors")));
    const std::string errorsOnly = shown().join('\n').toStdString() + "\n";

    // A new file; the extension is added to a name without one.
    prompts.fileAnswers.push_back((dir / "line").string());
    window->saveAsText();
    EXPECT_EQ(fileText(dir / "line.txt"), errorsOnly);
    ASSERT_EQ(prompts.fileDialogs.size(), 1u);
    EXPECT_FALSE(prompts.fileDialogs[0].request.confirmOverwrite);
    EXPECT_TRUE(prompts.boxes.empty());

    // An existing file: the question defaults to No, and No leaves it as it was.
    window->setFilterIndex(0);
    const std::string all = shown().join('\n').toStdString() + "\n";
    prompts.fileAnswers.push_back((dir / "line.txt").string());
    window->saveAsText();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].buttons, BoxButtons::YesNoDefaultNo);
    EXPECT_EQ(fileText(dir / "line.txt"), errorsOnly);
    // Yes replaces it.
    prompts.fileAnswers.push_back((dir / "line.txt").string());
    prompts.answers.push_back(kAnswerYes);
    window->saveAsText();
    EXPECT_EQ(fileText(dir / "line.txt"), all);

    // A folder that cannot be written: said, nothing else happens.
    prompts.fileAnswers.push_back((dir / "missing" / "x.txt").string());
    window->saveAsText();
    EXPECT_TRUE(window->statusText().startsWith(QStringLiteral("Cannot write ")))
        << window->statusText().toStdString();
    // Cancelled: nothing written, nothing asked.
    const auto boxes = prompts.boxes.size();
    window->saveAsText();
    EXPECT_EQ(prompts.boxes.size(), boxes);
}

TEST_F(TrafficWindowTest, TheViewMenuOpensItOnTheWindowsLink) {
    WindowParams p;
    p.programDir = dir.string() + "/";
    p.link = &link;
    p.prompts = &prompts;
    p.terminate = [](int) { ADD_FAILURE() << "the window ended the process"; };
    auto main = std::make_unique<MainWindow>(p);
    ASSERT_NE(main->action(res::kCmdTraffic), nullptr);
    EXPECT_EQ(main->action(res::kCmdTraffic)->text(), QStringLiteral("Traffic..."));
    EXPECT_EQ(main->trafficWindow(), nullptr);
    main->onCommand(res::kCmdTraffic);
    ASSERT_NE(main->trafficWindow(), nullptr);
    EXPECT_TRUE(main->trafficWindow()->isVisible());
    EXPECT_NE(link.ring, nullptr);
    // One window, whatever the number of times it is asked for.
    TrafficWindow* first = main->trafficWindow();
    main->onCommand(res::kCmdTraffic);
    EXPECT_EQ(main->trafficWindow(), first);
    // Its ring is taken back from the link before the window goes.
    main.reset();
    EXPECT_EQ(link.ring, nullptr);
}

}  // namespace
}  // namespace kvx::test
