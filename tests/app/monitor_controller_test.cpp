// The connection logic driven through its interfaces, without a window or a port.
#include "app/core/monitor_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>
#include <vector>

#include "log/log_format.h"
#include "resources/resource_ids.h"
#include "tests/support/fake_link.h"
#include "ui/scripted_prompts.h"

namespace kvx {

// Past the controller's API, for a state it reaches only after a million failed Connects.
struct MonitorControllerTestAccess {
    static void setCommStatus(MonitorController& m, int value) { m.state_.commStatus = value; }
};

}  // namespace kvx

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

class FakeHost : public MonitorHost {
  public:
    void armTimer(int id, int ms) override {
        armed[id] = ms;
        events.push_back("arm " + std::to_string(id));
    }
    void killTimer(int id) override {
        armed.erase(id);
        events.push_back("kill " + std::to_string(id));
    }
    void setTitle(const std::string& t) override { title = t; }
    void invalidatePanel() override { ++repaints; }
    void refreshStatusBar() override { ++statusRefreshes; }
    void postCommand(int id) override { posted.push_back(id); }
    void postOpenLogFile(int kind) override { logRequests.push_back(kind); }
    void closeConnectingDialog() override { ++dialogClosed; }
    void createRunStopWindow() override {
        runStop = true;
        ++runStopCreated;
    }
    bool hasRunStopWindow() const override { return runStop; }
    void invalidateRunStopWindow() override { ++runStopRedraws; }
    void activateMainWindow() override { ++activated; }

    std::map<int, int> armed;
    std::vector<std::string> events;
    std::string title;
    int repaints = 0, dialogClosed = 0, runStopCreated = 0, runStopRedraws = 0, activated = 0,
        statusRefreshes = 0;
    bool runStop = false;
    std::vector<int> posted, logRequests;
};

struct TestClock {
    std::int64_t seconds = 1767258000;  // 2026-01-01 09:00 UTC
    LocalTimeMs local{2026, 1, 1, 9, 15, 0, 0};
    MonitorClock clock() {
        return {[this] { return seconds; }, [this] { return local; }};
    }
    LocalClock logClock() {
        return [this] {
            LocalDateTime t;
            t.year = local.year;
            t.month = local.month;
            t.day = local.day;
            t.hour = local.hour;
            t.minute = local.minute;
            t.second = local.second;
            t.calendarTime = seconds;
            return t;
        };
    }
};

class MonitorControllerTest : public ::testing::Test {
  protected:
    MonitorControllerTest()
        : dir(fs::path(::testing::TempDir()) /
              ("kvx_mc_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          log((fs::create_directories(dir), dir.string()), clock.logClock()),
          mc(link, log, prompts, host, settings, feed, clock.clock()) {
        settings.slaveId = 7;
        link.holding[2] = 117;   // firmware 1.17
        link.holding[3] = 2417;  // serial number
        link.holding[23] = 100;  // load_min x0.1
        link.holding[24] = 3000;
        link.holding[90] = 1;  // kW indicator
        link.input[9] = 650;   // exhaust temperature
        link.input[35] = 1500;
        link.input[16] = 0;
        link.input[66] = 1;  // external shutoff healthy
    }
    ~MonitorControllerTest() override { fs::remove_all(dir); }

    // Start-up with the port open, as far as the end of the connection sequence.
    void connectThroughSequence() {
        mc.onCreate();
        ASSERT_TRUE(mc.openPortAtStartUp(3000));
        for (int i = 0; i < MonitorController::kSequenceGoodReads; ++i)
            mc.connectSequenceTick();
    }
    std::vector<std::uint8_t> fileBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir;
    TestClock clock;
    FakeLink link;
    ScriptedPrompts prompts;
    FakeHost host;
    ProgramSettings settings;
    LogWriter log;
    PanelFeed feed;  // the window's, which the controller's polling fills
    MonitorController mc;
};

TEST_F(MonitorControllerTest, CreationArmsTheSequenceTimerOnly) {
    mc.onCreate();
    EXPECT_EQ(host.armed, (std::map<int, int>{{5003, 200}}));
    EXPECT_EQ(feed.live.vibration, -1);
    // Nothing is read while connected is still false.
    mc.connectSequenceTick();
    EXPECT_TRUE(link.calls.empty());
}

TEST_F(MonitorControllerTest, StartUpSetsTheReplyTimeOutBeforeOpening) {
    EXPECT_TRUE(mc.openPortAtStartUp(3000));
    EXPECT_EQ(link.timeout, 3000);
    EXPECT_EQ(link.openedName, "COM5");
    EXPECT_TRUE(mc.state().connected);

    link.closeConnection();
    link.openResult = MBR_OPEN_FAILED;
    EXPECT_FALSE(mc.openPortAtStartUp(3000));
    EXPECT_FALSE(mc.state().connected);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Error opening communication port!\n");
    EXPECT_EQ(prompts.boxes[0].title, "Notice(B_9600)");
    EXPECT_FALSE(prompts.boxes[0].owned);
}

TEST_F(MonitorControllerTest, SequenceCompletesOnTheNinthGoodIdentityRead) {
    mc.onCreate();
    ASSERT_TRUE(mc.openPortAtStartUp(3000));
    for (int i = 0; i < 8; ++i)
        mc.connectSequenceTick();
    EXPECT_EQ(host.armed.count(5001), 0u);
    EXPECT_EQ(host.dialogClosed, 0);
    EXPECT_EQ(host.title, "Orvik Dravo Viewer v.1.37  ___  Firmware v. 1.17 ");
    mc.connectSequenceTick();
    EXPECT_EQ(host.armed.count(5003), 0u);
    EXPECT_EQ(host.armed[5001], 200);
    EXPECT_EQ(host.armed[5004], 200);
    EXPECT_EQ(host.dialogClosed, 1);
    EXPECT_EQ(host.runStopCreated, 1);
    EXPECT_EQ(host.repaints, 1);
    EXPECT_EQ(host.activated, 1);
    EXPECT_EQ(mc.state().serialNumber, 2417);
    // Ranges from references 23..32 and 76..93 for slave 7.
    EXPECT_EQ(link.countReads('H', 23), 1);
    EXPECT_EQ(link.countReads('H', 76), 1);
    EXPECT_EQ(link.calls[link.calls.size() - 2].slave, 7);
    EXPECT_DOUBLE_EQ(mc.state().ranges.loadMin, 10.0);
    EXPECT_DOUBLE_EQ(mc.state().ranges.loadMax, 300.0);
    EXPECT_EQ(mc.state().ranges.indicator_type, 1);
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(MonitorControllerTest, SequenceKeepsTheSpeedRangeOfTheScalingFile) {
    settings.speedMin = 500;
    settings.speedMax = 2500;
    mc.applySpeedRange();
    connectThroughSequence();
    EXPECT_DOUBLE_EQ(mc.state().ranges.speedMin, 500.0);
    EXPECT_DOUBLE_EQ(mc.state().ranges.speedMax, 2500.0);
}

TEST_F(MonitorControllerTest, SequenceTakesLocalShutoffFromOneBlockARead) {
    link.input[16] = 1;
    connectThroughSequence();
    EXPECT_EQ(feed.live.local_shutoff, 1);
}

TEST_F(MonitorControllerTest, SilentControllerGivesUpOnTheTwentiethAttemptWithOneBox) {
    mc.onCreate();
    ASSERT_TRUE(mc.openPortAtStartUp(3000));
    link.silent = true;
    for (int i = 0; i < 19; ++i)
        mc.connectSequenceTick();
    EXPECT_TRUE(prompts.boxes.empty());
    mc.connectSequenceTick();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text,
              "Connection failed. \nPlease check the cable, communication port and device ID "
              "settings.");
    EXPECT_EQ(prompts.boxes[0].title, "Communication Timeout");
    EXPECT_EQ(host.armed.count(5003), 0u);
    EXPECT_EQ(host.dialogClosed, 1);
    EXPECT_EQ(host.armed.count(5001), 0u);
    EXPECT_EQ(mc.state().identity.version, 0);
    EXPECT_EQ(host.title, "");  // no good read, the start title stays
}

TEST_F(MonitorControllerTest, LineThatFailsAfterTheTwentiethAttemptStillGivesUp) {
    mc.onCreate();
    ASSERT_TRUE(mc.openPortAtStartUp(3000));
    // Every other read answers: by the 20th attempt 8 good reads, not enough.
    for (int i = 0; i < 16; ++i) {
        link.silent = i % 2 == 0;
        mc.connectSequenceTick();
    }
    link.silent = true;
    for (int i = 0; i < 3; ++i)
        mc.connectSequenceTick();
    link.silent = false;
    mc.connectSequenceTick();  // the 20th attempt is the 9th good read: done
    EXPECT_EQ(mc.state().sequenceSuccesses, 9);
    EXPECT_EQ(host.armed.count(5001), 1u);

    // A fresh sequence where the 20th read succeeds short of nine, then the line dies.
    host.armed.clear();
    mc.commPortFinish(0);
    for (int i = 0; i < 20; ++i) {
        link.silent = i != 19 && i % 3 != 0;  // 8 good reads, the last one good
        mc.connectSequenceTick();
    }
    EXPECT_EQ(prompts.boxes.size(), 0u);
    link.silent = true;
    mc.connectSequenceTick();
    EXPECT_EQ(prompts.count("Connection failed. \nPlease check the cable, communication port "
                            "and device ID settings."),
              1);
    EXPECT_EQ(host.armed.count(5003), 0u);
}

TEST_F(MonitorControllerTest, SecondSequenceCountsAfresh) {
    connectThroughSequence();
    EXPECT_EQ(mc.state().sequenceSuccesses, 9);
    host.armed.clear();
    mc.commPortFinish(0);
    EXPECT_EQ(host.armed[5003], 500);
    EXPECT_EQ(mc.state().sequenceAttempts, 0);
    mc.connectSequenceTick();
    // One good read is not enough for the second sequence.
    EXPECT_EQ(host.armed.count(5001), 0u);
    for (int i = 0; i < 8; ++i)
        mc.connectSequenceTick();
    EXPECT_EQ(host.armed.count(5001), 1u);
    EXPECT_EQ(host.runStopCreated, 2);
}

TEST_F(MonitorControllerTest, PollReadsTheBlocksOfTheFirmware) {
    struct Case {
        int firmware;
        std::vector<int> inputRefs;
    };
    const Case cases[] = {{104, {1}},     {105, {1, 51}},     {106, {1, 51}},
                          {112, {1, 51}}, {113, {1, 51, 92}}, {117, {1, 51, 92}}};
    link.open = true;
    for (const auto& c : cases) {
        link.holding[2] = static_cast<std::int16_t>(c.firmware);
        mc.connect();  // reads the firmware version
        link.calls.clear();
        mc.pollTick();
        std::vector<int> refs;
        std::vector<int> counts;
        for (const auto& call : link.calls) {
            ASSERT_EQ(call.kind, 'I');
            refs.push_back(call.ref);
            counts.push_back(call.count);
        }
        EXPECT_EQ(refs, c.inputRefs) << "firmware " << c.firmware;
        if (refs.size() > 1) {
            EXPECT_EQ(counts[1], c.firmware == 105 ? 4 : 36);
        }
    }
}

TEST_F(MonitorControllerTest, GoodTickRepaintsLogsAndResetsTheCounters) {
    connectThroughSequence();
    mc.openLogFile(LogWriter::kRequestHeader);
    EXPECT_FALSE(log.isOpen());  // the first record makes the file
    const int before = host.repaints;
    mc.pollTick();
    ASSERT_TRUE(log.isOpen());
    const std::string path = log.path();
    mc.pollTick();
    EXPECT_EQ(host.repaints, before + 2);
    EXPECT_EQ(mc.state().commStatus, 0);
    EXPECT_EQ(mc.state().consecutiveFailures, 0);
    EXPECT_EQ(feed.live.exhaust_temp, 650);
    EXPECT_EQ(feed.live.engine_speed, 1500);
    log.closeLogFile();
    const auto bytes = fileBytes(path);
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kLogHeaderSize + 2 * kLogRecordSize));
    const LogRecord r = decodeLogRecord(bytes.data() + kLogHeaderSize);
    EXPECT_EQ(r.time, 1767258000);
    EXPECT_EQ(r.values[0], 650);
    EXPECT_EQ(r.values[15], 1500);
    EXPECT_EQ(path, (dir / "log_2026_1_1_9.log").string());
}

TEST_F(MonitorControllerTest, BadTicksNeitherRepaintNorLogAndTheSixthPostsConnect) {
    connectThroughSequence();
    mc.openLogFile(LogWriter::kRequestConnect);
    mc.pollTick();
    const int before = host.repaints;
    link.failInput[1] = true;
    for (int i = 0; i < 5; ++i)
        mc.pollTick();
    EXPECT_EQ(host.repaints, before);
    EXPECT_TRUE(host.posted.empty());
    EXPECT_EQ(host.armed.count(5001), 1u);
    mc.pollTick();
    EXPECT_EQ(host.armed.count(5001), 0u);
    EXPECT_EQ(host.posted, std::vector<int>{res::kCmdConnect});
    EXPECT_EQ(host.repaints, before + 1);
    EXPECT_TRUE(prompts.boxes.empty());
    const std::string path = log.path();
    log.closeLogFile();
    EXPECT_EQ(fileBytes(path).size(), static_cast<std::size_t>(kLogRecordSize));
}

TEST_F(MonitorControllerTest, FailedBlockBMakesTheTickBadButBlock113DoesNot) {
    connectThroughSequence();
    link.failInput[92] = true;
    mc.pollTick();
    EXPECT_EQ(mc.state().consecutiveFailures, 0);
    link.failInput[51] = true;
    mc.pollTick();
    EXPECT_EQ(mc.state().consecutiveFailures, 1);
}

TEST_F(MonitorControllerTest, SixBadTicksAfterRepeatedFailedConnectsShowTheTimeOutBox) {
    mc.onCreate();
    link.silent = true;
    for (int i = 0; i < 6; ++i)
        mc.connect();
    EXPECT_EQ(mc.state().commStatus, 6);
    link.silent = false;
    mc.connect();  // succeeds; the time-out count stays, the failure count is 1
    ASSERT_TRUE(mc.state().connected);
    prompts.boxes.clear();
    link.failInput[1] = true;
    for (int i = 0; i < 4; ++i)
        mc.pollTick();
    EXPECT_TRUE(prompts.boxes.empty());
    mc.pollTick();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Communication time-out");
    EXPECT_EQ(prompts.boxes[0].title, "VUVUV_EVI: Info");
    EXPECT_EQ(prompts.boxes[0].icon, BoxIcon::Warning);
    EXPECT_TRUE(prompts.boxes[0].owned);
    EXPECT_EQ(mc.state().commStatus, 10);
    EXPECT_FALSE(mc.state().connected);
}

TEST_F(MonitorControllerTest, ConnectOutcomes) {
    // The port does not open.
    link.openResult = MBR_OPEN_FAILED;
    mc.connect();
    EXPECT_FALSE(mc.state().connected);
    EXPECT_EQ(prompts.boxes.back().text, "Error opening communication port!\n");
    EXPECT_EQ(mc.state().commStatus, -1);
    EXPECT_EQ(mc.state().consecutiveFailures, 1);

    // It opens, but nothing answers: the time-out count starts at 1, not 0.
    link.openResult = 0;
    link.silent = true;
    mc.connect();
    EXPECT_FALSE(mc.state().connected);
    EXPECT_EQ(prompts.boxes.back().text, "Communication Time-out!\n");
    EXPECT_EQ(prompts.boxes.back().title, "Notice(B_9600)");
    EXPECT_EQ(mc.state().commStatus, 1);
    EXPECT_EQ(mc.statusTexts().parts[3], "Communication Status: Time-out");
    EXPECT_EQ(host.statusRefreshes, 2);
    mc.connect();
    EXPECT_EQ(mc.state().commStatus, 2);

    // The check read alone failing is enough.
    link.silent = false;
    link.failHolding[27] = true;
    mc.connect();
    EXPECT_FALSE(mc.state().connected);
    EXPECT_EQ(mc.state().commStatus, 3);

    link.failHolding[27] = false;
    prompts.boxes.clear();
    mc.enterPlayback();
    mc.connect();
    EXPECT_TRUE(mc.state().connected);
    EXPECT_FALSE(feed.playback());
    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_EQ(host.logRequests, std::vector<int>{LogWriter::kRequestConnect});
    EXPECT_EQ(host.armed, (std::map<int, int>{{5001, 200}}));
    EXPECT_EQ(mc.state().serialNumber, 2417);
    // Every Connect closed the port it had opened before opening it again.
    int opens = 0, closes = 0;
    for (const auto& c : link.calls) {
        opens += c.kind == 'O';
        closes += c.kind == 'C';
    }
    EXPECT_EQ(opens, 5);
    EXPECT_EQ(closes, 3);
}

// A network open says why it failed under the box's own line; on the status line, with
// automatic reconnection, the two read as one sentence.
TEST_F(MonitorControllerTest, AFailedNetworkOpenGivesTheLinksReason) {
    link.openResult = MBR_OPEN_FAILED;
    link.openError = "gw:502: the connection was refused";
    mc.connect();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text,
              "Error opening communication port!\ngw:502: the connection was refused\n");

    settings.portName = "modbus-tcp://gw";
    mc.commPortFinish(mc.commPortReopen(dir.string() + "/"));
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[1].text,
              "The selected communication port is not available.\nFree the port and try "
              "again.\ngw:502: the connection was refused\n");

    settings.reconnectAutomatically = true;
    mc.connect();
    EXPECT_EQ(prompts.boxes.size(), 2u);
    EXPECT_THAT(mc.statusTexts().parts[3],
                ::testing::StartsWith("Error opening communication port! gw:502: the connection "
                                      "was refused Next try at "));
}

TEST_F(MonitorControllerTest, DisconnectStopsPollingAndClosesPortAndLog) {
    connectThroughSequence();
    mc.openLogFile(LogWriter::kRequestConnect);
    mc.pollTick();
    const std::string path = log.path();
    mc.disconnect();
    EXPECT_EQ(host.armed.count(5001), 0u);
    EXPECT_FALSE(log.isOpen());
    EXPECT_FALSE(link.isConnected());
    EXPECT_EQ(fileBytes(path).size(), static_cast<std::size_t>(kLogRecordSize));
    EXPECT_TRUE(mc.state().connected);  // left as it is
}

TEST_F(MonitorControllerTest, PlaybackStopsPollingAndLoggingUntilAGoodConnect) {
    connectThroughSequence();
    mc.openLogFile(LogWriter::kRequestConnect);
    mc.pollTick();
    const std::string path = log.path();
    host.posted.clear();
    const int repaints = host.repaints;
    mc.enterPlayback();
    EXPECT_TRUE(feed.playback());
    EXPECT_EQ(host.posted, std::vector<int>{res::kCmdDisconnect});
    EXPECT_EQ(host.armed.count(5001), 0u);
    EXPECT_EQ(host.armed.count(5004), 1u);  // the log clock keeps running
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(fileBytes(path).size(), static_cast<std::size_t>(kLogRecordSize));
    EXPECT_EQ(mc.state().commStatus, 100);
    EXPECT_EQ(mc.statusTexts().parts[3], "Communication Status: Playback Mode");
    EXPECT_EQ(host.repaints, repaints + 1);

    // A failed Connect leaves playback mode; a good one ends it.
    link.failHolding[1] = true;  // the identity read
    mc.connect();
    EXPECT_TRUE(feed.playback());
    link.failHolding[1] = false;
    mc.connect();
    EXPECT_FALSE(feed.playback());
    EXPECT_EQ(host.armed.count(5001), 1u);
}

// A unit shown from the broker: nothing reaches the line in its place, whatever the timers or
// the run/stop button do, until a good Connect.
TEST_F(MonitorControllerTest, ARemoteUnitStopsEverythingOnTheLineUntilAGoodConnect) {
    mc.onCreate();
    ASSERT_TRUE(mc.openPortAtStartUp(3000));
    mc.connectSequenceTick();  // the sequence is still running
    mc.openLogFile(LogWriter::kRequestConnect);
    mc.enterRemote("north-7/2417");
    EXPECT_TRUE(feed.remote());
    EXPECT_EQ(host.armed.count(5001), 0u);
    EXPECT_EQ(host.armed.count(5003), 0u);  // the sequence would start polling at its end
    EXPECT_FALSE(link.isConnected());
    EXPECT_FALSE(log.isOpen());
    feed.live.engine_speed = 1450;  // the broker's record
    link.calls.clear();
    mc.pollTick();
    mc.connectSequenceTick();
    mc.runStopClicked();
    mc.logClockTick();
    EXPECT_TRUE(link.calls.empty());
    EXPECT_EQ(feed.live.engine_speed, 1450);
    EXPECT_EQ(feed.live.local_shutoff, 0);
    EXPECT_EQ(mc.statusTexts().parts[0], " Unit: north-7/2417");
    mc.setRemoteNote("Broker: offline");
    EXPECT_EQ(mc.statusTexts().parts[3], "Broker: offline");

    link.failHolding[1] = true;  // a failed Connect leaves the unit shown
    mc.connect();
    EXPECT_TRUE(feed.remote());
    link.failHolding[1] = false;
    mc.connect();
    EXPECT_FALSE(feed.remote());
    EXPECT_EQ(host.armed.count(5001), 1u);
    EXPECT_EQ(mc.statusTexts().parts[0], " Orvik Dravo Serial Nr: 2417");
}

TEST_F(MonitorControllerTest, LogClockRequestsTheHeaderOnceAndANewFileEachNewHour) {
    mc.onCreate();  // previous local time 09:15:00.000
    mc.logClockTick();
    EXPECT_EQ(host.logRequests, std::vector<int>{LogWriter::kRequestHeader});
    clock.local = {2026, 1, 1, 9, 59, 59, 900};
    mc.logClockTick();
    EXPECT_EQ(host.logRequests.size(), 1u);
    clock.local = {2026, 1, 1, 10, 0, 0, 100};
    mc.logClockTick();
    clock.local = {2026, 1, 1, 10, 0, 0, 300};
    mc.logClockTick();
    EXPECT_EQ(host.logRequests,
              (std::vector<int>{LogWriter::kRequestHeader, LogWriter::kRequestHourChange}));
}

TEST_F(MonitorControllerTest, LogClockSeesAnHourChangeWhoseSecondsAndMillisecondsRepeat) {
    mc.onCreate();
    mc.logClockTick();
    host.logRequests.clear();
    // 10:59:59.100 then 11:00:00.100 (millisecond equal), and a tick delayed by a minute
    // (minute and second equal): each is a new hour all the same.
    clock.local = {2026, 1, 1, 10, 59, 59, 100};
    mc.logClockTick();
    host.logRequests.clear();
    clock.local = {2026, 1, 1, 11, 0, 0, 100};
    mc.logClockTick();
    clock.local = {2026, 1, 1, 11, 59, 30, 500};
    mc.logClockTick();
    clock.local = {2026, 1, 1, 12, 0, 30, 500};
    mc.logClockTick();
    // Same hour of the next day.
    clock.local = {2026, 1, 2, 12, 0, 30, 700};
    mc.logClockTick();
    EXPECT_EQ(host.logRequests, (std::vector<int>{2, 2, 2}));
}

// A controller of its own, with its own log directory, for tests that go through several
// starts.
struct Rig {
    Rig(const fs::path& d, TestClock& clock, FakeLink& link, ScriptedPrompts& prompts,
        ProgramSettings& settings)
        : dir((fs::create_directories(d), d)),
          log(dir.string(), clock.logClock()),
          mc(link, log, prompts, host, settings, feed, clock.clock()) {}
    void startUp() {
        mc.onCreate();
        ASSERT_TRUE(mc.openPortAtStartUp(3000));
        for (int i = 0; i < MonitorController::kSequenceGoodReads; ++i)
            mc.connectSequenceTick();
    }
    // Serves the open-log requests posted so far, as the window's event loop does.
    void serveLogRequests() {
        for (int kind : std::exchange(host.logRequests, {}))
            mc.openLogFile(kind);
    }
    std::size_t fileSize(const char* name) const {
        std::error_code ec;
        const auto size = fs::file_size(dir / name, ec);
        return ec ? 0 : static_cast<std::size_t>(size);
    }

    fs::path dir;
    FakeHost host;
    LogWriter log;
    PanelFeed feed;
    MonitorController mc;
};

// A record the window showed is in the log: the first good poll after start-up comes before
// the log clock's request is served, and a second connection sequence after a Disconnect
// starts polling with no request at all.
TEST_F(MonitorControllerTest, EveryGoodTickIsLoggedFromTheFirstOn) {
    struct Case {
        const char* name;
        bool clockFirst;
        bool secondSequence;
        int wantRecords;
    };
    const Case cases[] = {
        {"the first poll before the log clock's request", false, false, 2},
        {"the log clock's request first", true, false, 2},
        {"polling again by a second connection sequence after a Disconnect", false, true, 3},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clock.seconds = 1767258000;
        Rig rig(dir / ("rig" + std::to_string(n++)), clock, link, prompts, settings);
        rig.startUp();
        if (c.clockFirst) {
            rig.mc.logClockTick();
            rig.serveLogRequests();
        }
        rig.mc.pollTick();
        ++clock.seconds;
        rig.mc.logClockTick();
        rig.serveLogRequests();
        rig.mc.pollTick();
        if (c.secondSequence) {
            rig.mc.disconnect();
            rig.mc.commPortFinish(rig.mc.commPortReopen(rig.dir.string()));
            for (int i = 0; i < MonitorController::kSequenceGoodReads; ++i)
                rig.mc.connectSequenceTick();
            rig.mc.pollTick();
        }
        rig.mc.shutdown();
        const auto bytes = fileBytes((rig.dir / "log_2026_1_1_9.log").string());
        EXPECT_EQ(bytes.size(),
                  static_cast<std::size_t>(kLogHeaderSize + c.wantRecords * kLogRecordSize));
        if (bytes.size() >= static_cast<std::size_t>(kLogHeaderSize + kLogRecordSize)) {
            EXPECT_EQ(decodeLogRecord(bytes.data() + kLogHeaderSize).time, 1767258000);
        }
        EXPECT_EQ(rig.mc.state().counts.notLogged, 0);
        EXPECT_EQ(rig.mc.state().counts.recordsHanded, c.wantRecords);
    }
}

// Where no record is being written, a new hour leaves no file behind: the hour's file is made
// when its first record comes.
TEST_F(MonitorControllerTest, ANewHourMakesNoFileWhileNoRecordIsWritten) {
    struct Case {
        const char* name;
        void (*stop)(MonitorController&);
    };
    const Case cases[] = {
        {"playback", [](MonitorController& m) { m.enterPlayback(); }},
        {"disconnected", [](MonitorController& m) { m.disconnect(); }},
        {"polling stopped", [](MonitorController& m) { m.stopPolling(); }},
        {"polling", [](MonitorController&) {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clock.seconds = 1767258000;
        clock.local = {2026, 1, 1, 9, 15, 0, 0};
        Rig rig(dir / ("rig" + std::to_string(n++)), clock, link, prompts, settings);
        rig.startUp();
        rig.mc.logClockTick();
        rig.serveLogRequests();
        rig.mc.pollTick();
        const bool polling = std::string(c.name) == "polling";
        c.stop(rig.mc);
        rig.serveLogRequests();

        clock.seconds += 2700;
        clock.local = {2026, 1, 1, 10, 0, 0, 100};
        rig.mc.logClockTick();
        rig.serveLogRequests();
        clock.local.minute = 30;
        rig.mc.logClockTick();
        rig.serveLogRequests();
        if (!polling) {
            EXPECT_FALSE(fs::exists(rig.dir / "log_2026_1_1_10.log"));
        }

        // Records again: the new hour's file comes with the first of them.
        if (!polling) {
            rig.mc.connect();
            rig.serveLogRequests();
        }
        rig.mc.pollTick();
        rig.mc.shutdown();
        EXPECT_EQ(rig.fileSize("log_2026_1_1_10.log"), static_cast<std::size_t>(kLogRecordSize));
        EXPECT_EQ(rig.fileSize("log_2026_1_1_9.log"),
                  static_cast<std::size_t>(kLogHeaderSize + kLogRecordSize));
    }
}

// Polling started by Connect after a start-up that found no controller runs without the log
// clock; a new hour must still begin a new file, or its records would sit in another hour's
// file, where the log tool takes them for damage.
TEST_F(MonitorControllerTest, ARecordGoesToTheFileOfItsHourWithoutTheLogClock) {
    mc.onCreate();
    ASSERT_TRUE(mc.openPortAtStartUp(3000));
    mc.connectingCancelled();
    mc.connect();
    for (int kind : std::exchange(host.logRequests, {}))
        mc.openLogFile(kind);
    EXPECT_EQ(host.armed.count(5004), 0u);
    mc.pollTick();
    clock.seconds += 2700;
    clock.local = {2026, 1, 1, 10, 0, 0, 100};
    mc.pollTick();
    mc.pollTick();
    mc.shutdown();
    EXPECT_EQ(fileBytes((dir / "log_2026_1_1_9.log").string()).size(),
              static_cast<std::size_t>(kLogRecordSize));
    EXPECT_EQ(fileBytes((dir / "log_2026_1_1_10.log").string()).size(),
              static_cast<std::size_t>(2 * kLogRecordSize));
}

TEST_F(MonitorControllerTest, StatusTextsFollowTheState) {
    auto t = mc.statusTexts();
    EXPECT_EQ(t.parts[3], "Communication Status: Waiting for data");
    EXPECT_EQ(t.parts[2], "Alarm Status:  Normal operation ! ");
    EXPECT_EQ(t.parts[0], " Orvik Dravo Serial Nr: 0");
    EXPECT_EQ(t.parts[1], " Indicator: 0");
    connectThroughSequence();
    link.input[18] = 0x0003;
    mc.pollTick();
    t = mc.statusTexts();
    EXPECT_EQ(t.parts[3], "Communication Status: Receiving data");
    EXPECT_EQ(t.parts[2], "Alarm Status:  Low supply pressure !  Press Xducer Failed ! ");
    EXPECT_EQ(t.parts[0], " Orvik Dravo Serial Nr: 2417");
    EXPECT_EQ(t.parts[1], " Indicator: 1");
    mc.enterPlayback();
    EXPECT_EQ(mc.statusTexts().parts[3], "Communication Status: Playback Mode");
}

// A failed Connect counts on from where commStatus stands, but never onto the playback value
// and never past the count's limit.
TEST_F(MonitorControllerTest, FailedConnectCountsStepOverPlayback) {
    link.silent = true;
    const int limit = MonitorController::kCommStatusCountLimit;
    const struct {
        int before, after;
    } cases[] = {
        {-1, 1},        {0, 1}, {5, 6}, {98, 99}, {99, 101}, {100, 101}, {limit - 1, limit},
        {limit, limit},
    };
    for (const auto& c : cases) {
        MonitorControllerTestAccess::setCommStatus(mc, c.before);
        mc.connect();
        EXPECT_EQ(mc.state().commStatus, c.after) << c.before;
        EXPECT_EQ(mc.statusTexts().parts[3], "Communication Status: Time-out") << c.before;
    }
}

TEST_F(MonitorControllerTest, RunStopWindowRedrawsWhenReadinessOrShutoffsChange) {
    connectThroughSequence();
    mc.pollTick();  // ready now: previous external shutoff was -1, so a redraw too
    EXPECT_EQ(mc.state().readyShown, 1);
    const int after = host.runStopRedraws;
    EXPECT_GE(after, 1);
    mc.pollTick();
    EXPECT_EQ(host.runStopRedraws, after);
    link.input[16] = 1;  // local shutoff: both the shutoff and the READY state change
    mc.pollTick();
    EXPECT_EQ(host.runStopRedraws, after + 2);
    EXPECT_EQ(mc.state().readyShown, 0);
    EXPECT_FALSE(mc.ready());
}

TEST_F(MonitorControllerTest, RunStopClickTogglesTheEmergencyStop) {
    connectThroughSequence();
    mc.runStopClicked();
    EXPECT_EQ(link.holding[34], 1);
    EXPECT_EQ(feed.live.local_shutoff, 1);
    EXPECT_EQ(link.calls.back().slave, 7);
    mc.runStopClicked();
    EXPECT_EQ(link.holding[34], 0);
    EXPECT_EQ(feed.live.local_shutoff, 0);
    EXPECT_EQ(host.activated, 3);
}

TEST_F(MonitorControllerTest, CommPortReopenWritesTheFileAndReportsAFailedPort) {
    settings.portName = "COM0";
    link.openResult = MBR_OPEN_FAILED;
    const int r = mc.commPortReopen(dir.string());
    EXPECT_EQ(r, MBR_OPEN_FAILED);
    std::ifstream in(dir / "kvx_comm_config.dat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "COM0 7");
    mc.commPortFinish(r);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text,
              "The selected communication port is not available.\nFree the port and try again.");
    EXPECT_EQ(prompts.boxes[0].title, "Notice");
    EXPECT_EQ(prompts.boxes[0].icon, BoxIcon::Warning);
    link.openResult = MBR_PORT_BUSY;
    mc.commPortFinish(mc.commPortReopen(dir.string()));
    EXPECT_EQ(prompts.boxes.back().text, "Connection failed.");
    EXPECT_EQ(prompts.boxes.back().title, "ComPort Communication Timeout");
    EXPECT_EQ(host.armed.count(5003), 0u);
}

TEST_F(MonitorControllerTest, ShutdownKillsTimersInOrderAndClosesEverything) {
    connectThroughSequence();
    mc.openLogFile(LogWriter::kRequestConnect);
    mc.pollTick();
    const std::string path = log.path();
    host.events.clear();
    mc.shutdown();
    EXPECT_EQ(host.events, (std::vector<std::string>{"kill 5001", "kill 5004"}));
    EXPECT_FALSE(link.isConnected());
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(fileBytes(path).size(), static_cast<std::size_t>(kLogRecordSize));
}

}  // namespace
TEST_F(MonitorControllerTest, CountsEveryPollByOutcomeForTheLineAtTheEnd) {
    connectThroughSequence();
    mc.pollTick();  // before the log clock's request: opens the file itself
    mc.openLogFile(LogWriter::kRequestHeader);
    for (int i = 0; i < 3; ++i)
        mc.pollTick();
    link.failInput[1] = true;  // block A
    mc.pollTick();
    mc.pollTick();
    link.failInput[1] = false;
    link.failInput[51] = true;  // block B: the tick is bad by its code
    mc.pollTick();
    link.failInput[51] = false;
    link.open = false;
    mc.pollTick();
    link.open = true;
    mc.pollTick();
    mc.shutdown();
    EXPECT_EQ(mc.state().counts.polls, 9);
    EXPECT_EQ(mc.state().counts.line(),
              "polls 9, good ticks 5, bad ticks 4 (2: 1, 132: 3), records logged 5, records lost "
              "0, good ticks without a log file 0");
}

}  // namespace kvx::test
