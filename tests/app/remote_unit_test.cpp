// A unit shown from the broker, fed without a broker: payloads built by the fleet's encoder go
// through the codec and the log format's decoder into the panel's record; bad messages are
// skipped with one line each and leave the last good record; the window stops polling and
// logging, names the unit and its status on the status bar, and a good Connect ends it.
#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/window_texts.h"
#include "app/main_window.h"
#include "app/remote_unit.h"
#include "fleet/payloads.h"
#include "fleet/topics.h"
#include "log/log_format.h"
#include "resources/resource_ids.h"
#include "tests/support/fake_link.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;
using fleet::TopicKind;
using Took = RemoteUnitFeed::Took;

const fleet::UnitId kUnit{"north-7", 2417};
constexpr std::int64_t kTime = 1796000000;  // in 2026

LiveData sampleLive(int speed) {
    LiveData live;
    live.exhaust_temp = 812;
    live.engine_load = 3456;
    live.vibration = 120;
    live.engine_hp = 4100;
    live.alarm_flags = 0;
    live.pressure_sp = 250;
    live.gas_flow = 987;
    live.substitution_rate = 455;
    live.engine_speed = speed;
    live.diesel_flow = 321;
    live.vibration_max = 400;
    return live;
}

std::string recordPayload(std::uint64_t seq, const LiveData& live, bool late = false) {
    fleet::RecordMessage m;
    m.seq = seq;
    m.file = "log_2026_12_8_21.log";
    m.header = makeLogHeader(117);
    m.index = static_cast<std::uint32_t>(seq - 1);
    const LogRecord record = LogRecord::fromLiveData(kTime + static_cast<std::int64_t>(seq), live);
    fleet::setRecord(m, record);
    m.values = fleet::engineeringValues(record, 0);
    m.publishedMs = (kTime + static_cast<std::int64_t>(seq)) * 1000;
    m.late = late;
    return fleet::encodeRecord(m);
}

std::string statusPayload(fleet::UnitState state, const std::string& reason = {}) {
    return fleet::encodeStatus({state, reason, kTime * 1000});
}

fleet::IdentityMessage identityOf(const fleet::UnitId& unit, int firmware = 117) {
    return {unit.site, unit.serial, firmware, 1, "1.0"};
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

LogRecord shown(const LiveData& live) {
    return LogRecord::fromLiveData(0, live);
}

TEST(RemoteUnitFeed, ARecordReachesTheLiveFieldsAndBadOrStaleMessagesChangeNothing) {
    RemoteUnitFeed feed(kUnit);
    LiveData live;
    live.pressure_sp_right = 77;  // not in a log record: stays
    std::string why;
    const std::string recordTopic = fleet::topicFor(kUnit, TopicKind::Record);
    ASSERT_EQ(feed.take(recordTopic, recordPayload(5, sampleLive(1450)), live, why), Took::Record);
    EXPECT_EQ(shown(live), shown(sampleLive(1450)));
    EXPECT_EQ(live.pressure_sp_right, 77);
    EXPECT_EQ(feed.shownSeq(), 5u);

    const std::string good = recordPayload(6, sampleLive(1500));
    const std::string otherUnit = fleet::topicFor({"south-2", 99}, TopicKind::Record);
    struct Case {
        const char* what;
        std::string topic;
        std::string payload;
        Took took;
    };
    const Case cases[] = {
        {"wrong version", recordTopic, replaced(good, "\"v\":1", "\"v\":2"), Took::Skipped},
        {"no version", recordTopic, replaced(good, "\"v\":1,", ""), Took::Skipped},
        {"truncated JSON", recordTopic, good.substr(0, good.size() / 2), Took::Skipped},
        {"trailing bytes", recordTopic, good + "}", Took::Skipped},
        {"seq out of range", recordTopic, replaced(good, "\"seq\":6", "\"seq\":-6"), Took::Skipped},
        {"10 MB", recordTopic, std::string(10 << 20, '{'), Took::Skipped},
        {"empty", recordTopic, "", Took::Skipped},
        {"another unit", otherUnit, good, Took::Skipped},
        {"not the layout", "kvx/north-7/2417/record/x", good, Took::Skipped},
        {"a wildcard site", "kvx/+/2417/record", good, Took::Skipped},
        {"a resent record", recordTopic, recordPayload(7, sampleLive(1600), true), Took::Ignored},
        {"an older record", recordTopic, recordPayload(4, sampleLive(1700)), Took::Ignored},
        {"the record shown again", recordTopic, recordPayload(5, sampleLive(1800)), Took::Ignored},
        {"an identity of another unit", fleet::topicFor(kUnit, TopicKind::Identity),
         fleet::encodeIdentity(identityOf({"north-7", 2418})), Took::Skipped},
        {"a status that is not one", fleet::topicFor(kUnit, TopicKind::Status),
         replaced(statusPayload(fleet::UnitState::Offline), "offline", "gone"), Took::Skipped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        why.clear();
        EXPECT_EQ(feed.take(c.topic, c.payload, live, why), c.took);
        EXPECT_EQ(why.empty(), c.took != Took::Skipped) << why;
        EXPECT_EQ(shown(live), shown(sampleLive(1450)));
        EXPECT_EQ(feed.shownSeq(), 5u);
        EXPECT_FALSE(feed.status());
    }
    EXPECT_EQ(feed.take(recordTopic, good, live, why), Took::Record);
    EXPECT_EQ(live.engine_speed, 1500);
}

TEST(RemoteUnitFeed, SkippedMessageLineIsOneEscapedLineOfBoundedLength) {
    const std::string topic = "kvx/a\nb/" + std::string(5000, 'x');
    const std::string line = skippedMessageLine(topic, 10 << 20, std::string(5000, 'y') + "\n");
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_LT(line.size(), 600u);
    EXPECT_NE(line.find("(10485760 bytes) skipped: "), std::string::npos) << line;
}

TEST(BrokerDirectory, ListsUnitsWithAnIdentityAndTheirLastStatus) {
    BrokerDirectory d;
    std::string why;
    const fleet::UnitId a{"north-7", 2417}, b{"south_2", 9};
    // A status may come before its identity; the unit is listed once its identity is known.
    EXPECT_TRUE(d.take(fleet::topicFor(b, TopicKind::Status),
                       statusPayload(fleet::UnitState::NoController, "cable pulled"), why));
    EXPECT_TRUE(d.units().empty());
    EXPECT_TRUE(
        d.take(fleet::topicFor(a, TopicKind::Identity), fleet::encodeIdentity(identityOf(a)), why));
    EXPECT_TRUE(d.take(fleet::topicFor(b, TopicKind::Identity),
                       fleet::encodeIdentity(identityOf(b, 113)), why));
    // Bad ones change nothing: an identity naming another unit, a record topic, garbage.
    EXPECT_FALSE(
        d.take(fleet::topicFor(a, TopicKind::Identity), fleet::encodeIdentity(identityOf(b)), why));
    EXPECT_FALSE(d.take(fleet::topicFor(a, TopicKind::Record), recordPayload(1, {}), why));
    EXPECT_FALSE(d.take(fleet::topicFor(a, TopicKind::Status), "{\"v\":1", why));
    auto units = d.units();
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[a].identity.firmware, 117);
    EXPECT_EQ(unitStatusText(units[a].status), "unknown");
    EXPECT_EQ(unitStatusText(units[b].status), "no controller (cable pulled)");
    // An empty retained identity removes the unit.
    EXPECT_TRUE(d.take(fleet::topicFor(a, TopicKind::Identity), "", why));
    EXPECT_EQ(d.units().size(), 1u);
}

class RemoteWindowTest : public ::testing::Test {
  protected:
    RemoteWindowTest() : dir(freshTestDir("kvx_remote_")) {
        link.holding[2] = 117;
        link.holding[3] = 1234;
        link.input[35] = 900;  // the local controller's engine speed
        link.input[66] = 1;
        WindowParams p;
        p.programDir = dir.string() + "/";
        p.link = &link;
        p.prompts = &prompts;
        p.terminate = [](int) { ADD_FAILURE() << "the window ended the process"; };
        window = std::make_unique<MainWindow>(p);
    }
    ~RemoteWindowTest() override {
        window.reset();
        fs::remove_all(dir);
    }
    void take(TopicKind kind, const std::string& payload) {
        window->takeRemoteMessage(fleet::topicFor(kUnit, kind), payload, payload.size());
    }
    std::vector<fs::path> logFiles() const {
        std::vector<fs::path> out;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().extension() == ".log") out.push_back(e.path());
        return out;
    }

    fs::path dir;
    FakeLink link;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
};

TEST_F(RemoteWindowTest, TheUnitsRecordsReachThePanelWithPollingAndLoggingStopped) {
    window->startUp();
    ASSERT_TRUE(window->timers().isArmed(5001));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->panelFeed().live.engine_speed == 900; }));
    const std::size_t logsBefore = logFiles().size();

    window->showRemoteUnit(kUnit, identityOf(kUnit, 113));
    EXPECT_TRUE(window->panelFeed().remote());
    EXPECT_FALSE(window->timers().isArmed(5001));
    EXPECT_FALSE(window->logWriter().isOpen());
    EXPECT_FALSE(link.isConnected());
    // Nothing of the local controller shows as the remote unit's.
    EXPECT_EQ(window->panelFeed().live.engine_speed, 0);
    EXPECT_EQ(window->windowTitle().toStdString(), remoteTitle(113, "north-7/2417"));
    EXPECT_EQ(window->statusPart(0).toStdString(), remoteUnitText("north-7/2417"));
    EXPECT_EQ(window->statusPart(3), "Broker: connecting");

    const std::size_t callsBefore = link.calls.size();
    const int paints = window->paintCount();
    take(TopicKind::Record, recordPayload(1, sampleLive(1450)));
    EXPECT_EQ(shown(window->panelFeed().live), shown(sampleLive(1450)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->paintCount() > paints; }));
    EXPECT_EQ(window->panelInputs().live.engine_speed, 1450);
    EXPECT_TRUE(window->panelInputs().remoteActive);

    struct StatusCase {
        fleet::UnitState state;
        const char* reason;
        const char* part;
    };
    const StatusCase statuses[] = {
        {fleet::UnitState::Online, "", "Broker: online"},
        {fleet::UnitState::NoController, "cable pulled", "Broker: no controller (cable pulled)"},
        {fleet::UnitState::Offline, "", "Broker: offline"},
    };
    for (const StatusCase& c : statuses) {
        take(TopicKind::Status, statusPayload(c.state, c.reason));
        EXPECT_EQ(window->statusPart(3), c.part);
    }

    // Bad payloads: one line each on standard error, and the panel keeps the last good record.
    const std::string good = recordPayload(2, sampleLive(1600));
    const std::string bad[] = {replaced(good, "\"v\":1", "\"v\":9"), good.substr(0, 40),
                               std::string(10 << 20, 'x')};
    for (const std::string& payload : bad) {
        ::testing::internal::CaptureStderr();
        take(TopicKind::Record, payload);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("orvik-kvx: broker message on kvx/north-7/2417/record ("),
                  std::string::npos)
            << err;
        EXPECT_EQ(window->panelFeed().live.engine_speed, 1450);
    }
    // Time goes on (log clock ticks, an hour change): nothing polls or logs.
    QTest::qWait(700);
    EXPECT_EQ(link.calls.size(), callsBefore);
    EXPECT_EQ(logFiles().size(), logsBefore);
    EXPECT_EQ(window->panelFeed().live.engine_speed, 1450);

    // A good Connect to the line ends the remote view, as it ends playback.
    window->onCommand(res::kCmdConnect);
    EXPECT_FALSE(window->panelFeed().remote());
    EXPECT_EQ(window->remoteUnit(), nullptr);
    EXPECT_EQ(window->windowTitle().toStdString(), firmwareTitle(117));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->panelFeed().live.engine_speed == 900; }));
    // A message still queued for the unit is dropped.
    take(TopicKind::Record, recordPayload(3, sampleLive(1700)));
    EXPECT_EQ(window->panelFeed().live.engine_speed, 900);
}

TEST_F(RemoteWindowTest, AFailedConnectKeepsTheRemoteViewAndPlaybackOrCommPortEndIt) {
    window->startUp();
    window->showRemoteUnit(kUnit, identityOf(kUnit));
    take(TopicKind::Record, recordPayload(1, sampleLive(1450)));
    link.silent = true;
    window->onCommand(res::kCmdConnect);
    EXPECT_TRUE(window->panelFeed().remote());
    EXPECT_NE(window->remoteUnit(), nullptr);
    EXPECT_EQ(window->panelFeed().live.engine_speed, 1450);
    EXPECT_EQ(window->windowTitle().toStdString(), remoteTitle(117, "north-7/2417"));

    // Disconnect stops the feed; the record stays, read-only.
    window->onCommand(res::kCmdDisconnect);
    EXPECT_TRUE(window->panelFeed().remote());

    whenModal(QString::number(res::kPlaybackDialog), [](QWidget& d) { press(d, "2"); });
    window->onCommand(res::kCmdPlayback);
    EXPECT_TRUE(window->panelFeed().playback());
    EXPECT_EQ(window->remoteUnit(), nullptr);
}

}  // namespace
}  // namespace kvx::test
