// The real window, device link and log writer against the simulated controller on a
// pseudo-terminal, reached through <program dir>/COM5 as a technician's symlink would be.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/main_window.h"
#include "app/panel_view.h"
#include "app/run_stop_window.h"
#include "display/recording_surface.h"
#include "link/rtu_device_link.h"
#include "log/log_format.h"
#include "model/alarm_text.h"
#include "resources/resource_ids.h"
#include "sim/sim_server.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kConnectionFailed =
    "Connection failed. \nPlease check the cable, communication port and device ID settings.";

class EndToEndTest : public ::testing::Test {
  protected:
    EndToEndTest() : dir(freshTestDir("kvx_e2e_")) {}
    ~EndToEndTest() override {
        window.reset();
        link.reset();
        sim.stop();
        fs::remove_all(dir);
    }
    void startSimulator(bool wireTiming = false) {
        sim.setWireTiming(wireTiming);
        ASSERT_EQ(sim.start(), 0);
        fs::create_symlink(sim.devicePath(), dir / "COM5");
    }
    // Tests shorten the reply time-out (and nothing else) to keep silent lines quick.
    void make(int replyTimeoutMs = 150) {
        link = std::make_unique<RtuDeviceLink>(dir.string() + "/");
        WindowParams p;
        p.programDir = dir.string() + "/";
        p.link = link.get();
        p.prompts = &prompts;
        if (replyTimeoutMs > 0) p.replyTimeoutMs = replyTimeoutMs;
        p.terminate = [this](int code) { terminated = code; };
        window = std::make_unique<MainWindow>(p);
    }
    bool waitForStatus(const char* text, int ms) {
        return QTest::qWaitFor([&] { return window->statusPart(3) == text; }, ms);
    }
    // Lets the window paint once more than now.
    bool nextPaint(int timeoutMs = 5000) {
        const int n = window->paintCount();
        return QTest::qWaitFor([&] { return window->paintCount() > n; }, timeoutMs);
    }
    // What the window's last paint drew, as the recording surface sees it.
    RecordingSurface paintToRecording() {
        RecordingSurface s;
        const auto* v = window->panelView();
        window->panel().onPaint(s, v->width(), v->height(), window->panelInputs());
        return s;
    }
    std::vector<std::uint8_t> fileBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir;
    sim::SimServer sim;
    std::unique_ptr<RtuDeviceLink> link;
    ScriptedPrompts prompts;
    int terminated = -1;
    std::unique_ptr<MainWindow> window;
};

TEST_F(EndToEndTest, ConnectsPollsAndFillsTheStatusBar) {
    startSimulator(true);
    make();
    window->startUp();
    EXPECT_EQ(link->lastDevicePath(), (dir / "COM5").string());
    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_EQ(window->connectingDialog(), nullptr);
    EXPECT_EQ(window->windowTitle(), "Orvik Dravo Viewer v.1.37  ___  Firmware v. 1.17 ");
    ASSERT_TRUE(waitForStatus("Communication Status: Receiving data", 3000));
    // The engine comes up to speed; the panel's record follows the simulator's registers.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->panelFeed().live.engine_speed > 300; }, 10000));
    const int simSpeed = sim.withEngine([](sim::ControllerEngine& e) { return e.input(35); });
    EXPECT_NEAR(window->panelFeed().live.engine_speed, simSpeed, 200);
    EXPECT_EQ(window->panelFeed().live.exhaust_temp, window->controller().state().image.inA(9));
    const MonitorState& state = window->controller().state();
    EXPECT_EQ(window->statusPart(0), " Orvik Dravo Serial Nr: 2417");
    EXPECT_EQ(window->statusPart(1),
              QString::fromStdString(" Indicator: " + std::to_string(state.ranges.indicator_type)));
    EXPECT_EQ(window->statusPart(2),
              QString::fromStdString(alarmStatusLine(window->panelFeed().live, state.status)));
    EXPECT_TRUE(window->statusPart(2).startsWith("Alarm Status:"));
}

TEST_F(EndToEndTest, CommFileBanksZoomScalingAndANarrowWindow) {
    startSimulator();
    fs::create_symlink(sim.devicePath(), dir / "COM7");
    std::ofstream(dir / "kvx_comm_config.dat", std::ios::binary) << "COM7 1";
    make();
    window->startUp();
    EXPECT_EQ(window->settings().portName, "COM7");
    EXPECT_EQ(link->lastDevicePath(), (dir / "COM7").string());
    ASSERT_TRUE(waitForStatus("Communication Status: Receiving data", 3000));

    // F7 twice: the right bank, then the left one again, each at the next paint.
    QTest::keyClick(window.get(), Qt::Key_F7);
    EXPECT_EQ(window->selectedBank(), 2);
    ASSERT_TRUE(nextPaint());
    EXPECT_TRUE(paintToRecording().hasText("RIGHT BANK"));
    QTest::keyClick(window.get(), Qt::Key_F7);
    ASSERT_TRUE(nextPaint());
    EXPECT_EQ(window->selectedBank(), 1);
    EXPECT_TRUE(paintToRecording().hasText("LEFT BANK"));

    // Zoom leaves the chart alone: no dial, no bar, no text column.
    window->action(res::kCmdZoomIn)->trigger();
    ASSERT_TRUE(nextPaint());
    ASSERT_TRUE(window->zoomed());
    const RecordingSurface zoomed = paintToRecording();
    EXPECT_TRUE(zoomed.callsOf(DrawOp::Ellipse).empty());
    EXPECT_FALSE(zoomed.hasText("DIESEL FLOW "));
    EXPECT_FALSE(zoomed.hasText("LEFT BANK"));
    window->action(res::kCmdZoomOut)->trigger();
    ASSERT_TRUE(nextPaint());
    EXPECT_TRUE(paintToRecording().hasText("LEFT BANK"));

    // The scaling dialog writes the file and the speed dial takes the range while polling goes on.
    whenModal(QString::number(res::kScalingDialog), [](QWidget& d) {
        typeInto(d, "1051", "500");
        typeInto(d, "1052", "2500");
        press(d, "1");
    });
    window->onCommand(res::kCmdScalingSettings);
    const auto scaling = fileBytes((dir / "scaling_config.dat").string());
    EXPECT_EQ(std::string(scaling.begin(), scaling.end()), "500 2500");
    ASSERT_TRUE(nextPaint());
    EXPECT_DOUBLE_EQ(window->panel().gauge(Panel::SpeedDial).rangeMin(), 500);
    EXPECT_DOUBLE_EQ(window->panel().gauge(Panel::SpeedDial).rangeMax(), 2500);
    EXPECT_TRUE(window->timers().isArmed(5001));

    // Below 1300 pixels: the short titles, and the substitution dial keeps its own.
    window->showNormal();
    window->resize(1299, 800);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->panelView()->width() == 1299; }, 2000));
    ASSERT_TRUE(nextPaint());
    EXPECT_EQ(window->panel().gauge(Panel::SubstitutionDial).title1(), "SUBSTITUTION");
    EXPECT_EQ(window->panel().gauge(Panel::SpeedDial).title1(), "ENGINE");
    const RecordingSurface narrow = paintToRecording();
    ASSERT_FALSE(narrow.callsOf(DrawOp::Text).empty());
    for (const DrawCall& c : narrow.callsOf(DrawOp::Text))
        EXPECT_EQ(c.font, FontChoice::Small);
    window->resize(1600, 900);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->panelView()->width() == 1600; }, 2000));
    ASSERT_TRUE(nextPaint());
    EXPECT_EQ(window->panel().gauge(Panel::SubstitutionDial).title1(), "SUBSTITUTION");
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(EndToEndTest, LogFileHasTheHeaderAndOneRecordPerGoodTick) {
    startSimulator();
    make();
    window->startUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->logWriter().isOpen(); }, 3000));
    const std::string path = window->logWriter().path();
    EXPECT_EQ(fs::path(path).parent_path(), dir);
    EXPECT_EQ(fs::path(path).filename().string().rfind("log_", 0), 0u);
    QTest::qWait(2500);
    prompts.answers.push_back(kAnswerYes);
    ASSERT_TRUE(window->close());
    const long good = window->controller().state().goodTicks;
    const auto bytes = fileBytes(path);
    ASSERT_GE(bytes.size(), static_cast<std::size_t>(kLogHeaderSize));
    std::string title;
    ASSERT_TRUE(findLogHeader(bytes.data(), bytes.size(), &title));
    EXPECT_EQ(title, "KVX, Firmware ver: 1.17");
    EXPECT_EQ((bytes.size() - kLogHeaderSize) % kLogRecordSize, 0u);
    const long records = static_cast<long>((bytes.size() - kLogHeaderSize) / kLogRecordSize);
    // Every good tick, the first after start-up included, was shown and is logged.
    EXPECT_EQ(records, good);
    EXPECT_GT(records, 5);
    std::int32_t previous = 0;
    for (long i = 0; i < records; ++i) {
        const LogRecord r = decodeLogRecord(bytes.data() + kLogHeaderSize + i * kLogRecordSize);
        EXPECT_GE(r.time, previous);
        previous = r.time;
    }
}

TEST_F(EndToEndTest, PulledCableGivesSixBadTicksAConnectAndRecoversByF12) {
    startSimulator();
    make();
    window->startUp();
    ASSERT_TRUE(waitForStatus("Communication Status: Receiving data", 3000));
    const long goodBefore = window->controller().state().goodTicks;
    sim.pullCable(4000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return prompts.boxes.size() >= 1; }, 8000));
    EXPECT_EQ(prompts.boxes[0].text, "Communication Time-out!\n");
    EXPECT_EQ(prompts.boxes[0].title, "Notice(B_9600)");
    EXPECT_LE(window->controller().state().goodTicks - goodBefore, 1);
    EXPECT_FALSE(window->controller().state().connected);
    EXPECT_FALSE(window->timers().isArmed(5001));
    // Shown as soon as the Connect failed, without waiting for a repaint.
    EXPECT_EQ(window->statusPart(3), "Communication Status: Time-out");
    EXPECT_EQ(prompts.boxes.size(), 1u);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !sim.cablePulled(); }, 6000));
    QTest::keyClick(window.get(), Qt::Key_F12);
    ASSERT_TRUE(waitForStatus("Communication Status: Receiving data", 3000));
    EXPECT_TRUE(window->controller().state().connected);
    EXPECT_TRUE(window->logWriter().isOpen());  // Connect asked for the log file again
    EXPECT_EQ(prompts.boxes.size(), 1u);
}

TEST_F(EndToEndTest, NoControllerShowsTheTimeoutBoxOnceAndPollsNothing) {
    startSimulator();
    sim.pullCable(600000);
    make();
    window->startUp();
    QTest::qWait(1500);
    EXPECT_EQ(prompts.count(kConnectionFailed), 1);
    EXPECT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].title, "Communication Timeout");
    EXPECT_FALSE(window->timers().isArmed(5001));
    EXPECT_EQ(window->controller().state().goodTicks, 0);
    window->panelView()->update();
    ASSERT_TRUE(waitForStatus("Communication Status: Waiting for data", 2000));
    EXPECT_EQ(window->windowTitle(), "Orvik Dravo Viewer V.1.37 ");
}

TEST_F(EndToEndTest, PortThatCannotBeOpened) {
    fs::create_symlink(dir / "no-such-tty", dir / "COM5");  // a vanished device
    make();
    window->startUp();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Error opening communication port!\n");
    EXPECT_EQ(prompts.boxes[0].title, "Notice(B_9600)");
    EXPECT_FALSE(window->controller().state().connected);
    // Connect says the same, and the window keeps running.
    window->onCommand(res::kCmdConnect);
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[1].text, "Error opening communication port!\n");
}

// Left logging overnight: with automatic reconnection on, a pulled cable that outlasts a
// Connect and its first retry shows no box; the status line says why and when the next try
// is, and polling and logging come back by themselves once the cable is back.
TEST_F(EndToEndTest, ReconnectAutomaticallyRidesOutAPulledCableWithoutABox) {
    std::ofstream(dir / "kvx_settings.conf") << "# the viewer's own settings\n"
                                                "reconnect_automatically = yes\n";
    startSimulator();
    make();
    window->startUp();
    ASSERT_TRUE(waitForStatus("Communication Status: Receiving data", 3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->logWriter().isOpen(); }, 3000));
    sim.pullCable(8000);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->statusPart(3).contains("Communication Time-out!"); }, 8000));
    EXPECT_TRUE(window->statusPart(3).contains("Next try at"));
    EXPECT_FALSE(window->controller().state().connected);
    const long goodWhilePulled = window->controller().state().goodTicks;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sim.cablePulled(); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->controller().state().goodTicks > goodWhilePulled + 5; }, 20000));
    ASSERT_TRUE(waitForStatus("Communication Status: Receiving data", 3000));
    EXPECT_TRUE(window->logWriter().isOpen());
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.boxes[0].text;
    prompts.answers.push_back(kAnswerYes);
    ASSERT_TRUE(window->close());
    const PollCounts& c = window->controller().state().counts;
    EXPECT_EQ(c.recordsHanded - c.recordsLost + c.notLogged, c.goodTicks);
}

// The same from start-up: no controller answers while the connection sequence runs, and it
// is run again, without its dialog, until one does.
TEST_F(EndToEndTest, ReconnectAutomaticallyRunsTheConnectionSequenceAgainAfterStartUp) {
    std::ofstream(dir / "kvx_settings.conf") << "reconnect_automatically = yes\n";
    startSimulator();
    sim.pullCable(10000);
    make();
    window->startUp();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return window->statusPart(3).contains(
                "Connection failed. Please check the cable, communication port and device ID "
                "settings. Next try at");
        },
        10000));
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.boxes[0].text;
    ASSERT_TRUE(waitForStatus("Communication Status: Receiving data", 30000));
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.boxes[0].text;
    EXPECT_NE(window->runStopWindow(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->logWriter().isOpen(); }, 3000));
}

TEST_F(EndToEndTest, CommPortWithANonNumericEntryReportsTheMissingPort) {
    startSimulator();
    make();
    window->startUp();
    whenModal("108", [](QWidget& d) {
        EXPECT_EQ(d.findChild<QLineEdit*>("1001")->text(), "5");
        typeInto(d, "1001", "x1");
        typeInto(d, "1002", "3");
        press(d, "1");  // not a port: refused, the dialog stays open
        EXPECT_TRUE(d.isVisible());
        typeInto(d, "1001", "/dev/kvx-no-such-port");
        whenModal("portProperties", [](QWidget& p) { static_cast<QDialog&>(p).accept(); });
        press(d, "1");
    });
    window->onCommand(res::kCmdCommPort);
    EXPECT_EQ(window->settings().portName, "/dev/kvx-no-such-port");
    EXPECT_EQ(window->settings().slaveId, 3);
    std::ifstream in(dir / "kvx_comm_config.dat", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "/dev/kvx-no-such-port 3");
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text,
              "The selected communication port is not available.\nFree the port and try again.");
    EXPECT_EQ(prompts.boxes[0].title, "Notice");
    EXPECT_FALSE(window->timers().isArmed(5001));
    EXPECT_FALSE(window->timers().isArmed(5003));
    EXPECT_FALSE(link->isConnected());
}

TEST_F(EndToEndTest, RunStopButtonWritesTheEmergencyStop) {
    startSimulator();
    make();
    window->startUp();
    RunStopWindow* rs = window->runStopWindow();
    ASSERT_NE(rs, nullptr);
    // Wait for READY: no alarm, no shutoff.
    ASSERT_TRUE(QTest::qWaitFor([&] { return rs->button()->shownReady(); }, 15000));
    rs->button()->click();
    EXPECT_EQ(sim.withEngine([](sim::ControllerEngine& e) { return e.holding(34); }), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rs->button()->shownReady(); }, 3000));
    EXPECT_EQ(window->panelFeed().live.local_shutoff, 1);
    rs->button()->click();
    EXPECT_EQ(sim.withEngine([](sim::ControllerEngine& e) { return e.holding(34); }), 0);
}

TEST_F(EndToEndTest, EscEndsAtOnceWithEveryRecordInTheFile) {
    startSimulator();
    make();
    window->startUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->logWriter().isOpen(); }, 3000));
    const std::string path = window->logWriter().path();
    QTest::qWait(1000);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return terminated >= 0; }, 2000));
    EXPECT_EQ(terminated, 0);
    EXPECT_TRUE(prompts.boxes.empty());  // no confirmation
    EXPECT_FALSE(link->isConnected());
    EXPECT_FALSE(window->logWriter().isOpen());
    for (int id : {5001, 5004})
        EXPECT_FALSE(window->timers().isArmed(id));
    // Every record handed to the writer is in the file, whole.
    const long good = window->controller().state().goodTicks;
    const auto size = fs::file_size(path);
    EXPECT_EQ((size - kLogHeaderSize) % kLogRecordSize, 0u);
    EXPECT_EQ(static_cast<long>((size - kLogHeaderSize) / kLogRecordSize), good);
}

TEST_F(EndToEndTest, NoToTheCloseConfirmationKeepsPollingAndLogging) {
    startSimulator();
    make();
    window->startUp();
    prompts.answers.push_back(kAnswerNo);
    EXPECT_FALSE(window->close());
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Are you sure you want to close window?");
    EXPECT_EQ(prompts.boxes[0].title, "Confirm Window Close");
    EXPECT_EQ(prompts.boxes[0].buttons, BoxButtons::YesNo);
    EXPECT_EQ(prompts.boxes[0].icon, BoxIcon::Question);
    EXPECT_TRUE(window->isVisible());
    const long good = window->controller().state().goodTicks;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->controller().state().goodTicks > good + 3; }, 3000));
    EXPECT_TRUE(window->logWriter().isOpen());
    EXPECT_TRUE(link->isConnected());

    prompts.answers.push_back(kAnswerYes);
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(link->isConnected());
    EXPECT_FALSE(window->logWriter().isOpen());
    EXPECT_FALSE(window->timers().isArmed(5001));
    EXPECT_EQ(terminated, -1);  // closing ends the message loop, not the process
}

TEST_F(EndToEndTest, DefaultReplyTimeOutIsThreeSeconds) {
    startSimulator();
    sim.pullCable(600000);
    make(0);  // the product's default
    whenModal(
        "110", [](QWidget& d) { press(d, "2"); }, 20000);
    window->startUp();
    EXPECT_EQ(link->getReplyTimeout(), 3000);
    QElapsedTimer t;
    t.start();
    window->onCommand(res::kCmdConnect);  // identity read and check read, both unanswered
    EXPECT_GE(t.elapsed(), 2 * 3000);
    EXPECT_EQ(prompts.count("Communication Time-out!\n"), 1);
}

}  // namespace
}  // namespace kvx::test
