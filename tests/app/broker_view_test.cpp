// Open Unit from Broker against a real Mosquitto (started by the test, with a password file and
// an ACL) and a publisher in the agent's place: the dialog lists the unit from its retained
// identity, the panel shows the record's values, and the status bar follows the status topic.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/broker_unit_dialog.h"
#include "app/core/program_settings.h"
#include "app/core/window_texts.h"
#include "app/main_window.h"
#include "app/remote_unit.h"
#include "fleet/mqtt_client.h"
#include "fleet/payloads.h"
#include "fleet/topics.h"
#include "log/log_format.h"
#include "resources/resource_ids.h"
#include "tests/link/test_pki.h"
#include "tests/support/fake_link.h"
#include "tests/support/test_broker.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;
using fleet::TopicKind;

const fleet::UnitId kUnit{"north-7", 2417};
constexpr const char* kAgentUser = "agent";
constexpr const char* kAgentPassword = "agent-secret";
constexpr const char* kViewerUser = "viewer";
constexpr const char* kViewerPassword = "viewer-secret";

// The agent may publish under kvx/, the viewer only read.
TestBroker::Options brokerOptions() {
    TestBroker::Options o;
    o.users = {{kAgentUser, kAgentPassword}, {kViewerUser, kViewerPassword}};
    o.acl = std::string("user ") + kAgentUser + "\ntopic readwrite kvx/#\nuser " + kViewerUser +
            "\ntopic read kvx/#\n";
    return o;
}

constexpr std::int64_t kTime = 1796000000;

LiveData recordLive() {
    LiveData live;
    live.exhaust_temp = 812;
    live.engine_load = 3456;
    live.vibration = 120;
    live.engine_hp = 4100;
    live.pressure_sp = 250;
    live.gas_flow = 987;
    live.substitution_rate = 455;
    live.pressure_sp_left = 240;
    live.pressure_fdbk_left = 238;
    live.actuator_left = 61;
    live.engine_speed = 1450;
    live.diesel_flow = 321;
    live.mode_left = 2;
    live.vibration_max = 400;
    return live;
}

std::string recordPayload(std::uint64_t seq, const LiveData& live) {
    fleet::RecordMessage m;
    m.seq = seq;
    m.file = "log_2026_12_8_21.log";
    m.header = makeLogHeader(117);
    m.index = static_cast<std::uint32_t>(seq - 1);
    const LogRecord record = LogRecord::fromLiveData(kTime + static_cast<std::int64_t>(seq), live);
    fleet::setRecord(m, record);
    m.values = fleet::engineeringValues(record, 0);
    m.publishedMs = (kTime + static_cast<std::int64_t>(seq)) * 1000;
    return fleet::encodeRecord(m);
}

// Stands where the agent does: publishes as the agent user.
class Publisher {
  public:
    explicit Publisher(const TestBroker& broker, const std::string& caFile = {}) {
        fleet::MqttOptions o;
        o.broker = {"127.0.0.1", broker.port(), !caFile.empty()};
        o.caFile = caFile;
        o.clientId = "test-agent";
        o.credentials = fleet::Credentials{kAgentUser, kAgentPassword};
        client_ = std::make_unique<fleet::MqttClient>(o);
    }
    bool start() {
        return client_->start().empty() &&
               QTest::qWaitFor([&] { return client_->connected(); }, 10000);
    }
    // Published and acknowledged by the broker.
    bool publish(TopicKind kind, const std::string& payload, bool retain) {
        if (!client_->publish(fleet::topicFor(kUnit, kind), payload, 1, retain).empty())
            return false;
        return QTest::qWaitFor([&] { return client_->unacknowledged() == 0; }, 10000);
    }

  private:
    std::unique_ptr<fleet::MqttClient> client_;
};

class BrokerViewTest : public ::testing::Test {
  protected:
    BrokerViewTest() : dir(freshTestDir("kvx_broker_view_")), broker(dir, brokerOptions()) {
        link.holding[2] = 117;
        link.holding[3] = 1234;
        link.input[35] = 900;
        link.input[66] = 1;
    }
    ~BrokerViewTest() override {
        window.reset();
        broker.stop();
        fs::remove_all(dir);
    }
    void SetUp() override {
        if (tls) {
            pki = std::make_unique<TestPki>("kvx_broker_pki");
            ca = pki->makeCa("ca", "KVX Test CA");
            const CertFiles server = pki->makeCert("broker", ca, "127.0.0.1", {"IP:127.0.0.1"});
            broker.useTls(server.cert, server.key);
        }
        std::string why;
        ASSERT_TRUE(broker.start(why)) << why;
    }
    // The viewer's credentials file, private unless mode says otherwise.
    std::string credentialsFile(const char* password = kViewerPassword, mode_t mode = 0600) {
        const fs::path p = dir / "broker.credentials";
        std::ofstream(p) << kViewerUser << '\n' << password << '\n';
        ::chmod(p.c_str(), mode);
        return p.string();
    }
    // Saves a picture of w when KVX_BROKER_PNG_DIR names a folder (to look at the layout).
    static void picture(QWidget& w, const char* name) {
        if (const char* to = std::getenv("KVX_BROKER_PNG_DIR"))
            w.grab().save(QString::fromStdString(std::string(to) + "/" + name));
    }

    bool tls = false;
    std::unique_ptr<TestPki> pki;
    CertFiles ca;
    fs::path dir;
    TestBroker broker;
    FakeLink link;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
};

TEST_F(BrokerViewTest, TheDialogListsTheUnitAndThePanelShowsItsRecordsAndStatus) {
    Publisher agent(broker);
    ASSERT_TRUE(agent.start());
    ASSERT_TRUE(agent.publish(TopicKind::Identity,
                              fleet::encodeIdentity({"north-7", 2417, 117, 1, "1.0"}), true));
    ASSERT_TRUE(agent.publish(TopicKind::Status,
                              fleet::encodeStatus({fleet::UnitState::Online, "", kTime * 1000}),
                              true));
    std::ofstream(dir / "kvx_settings.conf")
        << "broker_url = " << broker.url() << "\nbroker_credentials_file = broker.credentials\n";
    credentialsFile();

    WindowParams p;
    p.programDir = dir.string() + "/";
    p.link = &link;
    p.prompts = &prompts;
    p.terminate = [](int) {};
    window = std::make_unique<MainWindow>(p);
    window->startUp();
    ASSERT_TRUE(window->timers().isArmed(5001));

    std::vector<QString> row;
    QString dialogStatus;
    whenModal(QString::number(res::kBrokerUnitDialog), [&](QWidget& d) {
        auto* list = d.findChild<QTableWidget*>(QString::number(res::kBrokerUnitList));
        // The identity and the status are two messages: the row is whole once both are in.
        const bool whole = QTest::qWaitFor(
            [&] {
                return list->rowCount() == 1 && list->item(0, 3) &&
                       list->item(0, 3)->text() != "unknown";
            },
            10000);
        if (whole) {
            for (int c = 0; c < list->columnCount(); ++c)
                row.push_back(list->item(0, c)->text());
        }
        dialogStatus = d.findChild<QWidget*>("1034")->property("text").toString();
        picture(d, "broker_dialog.png");
        press(d, "1");
    });
    window->onCommand(res::kCmdOpenBrokerUnit);
    ASSERT_EQ(row.size(), 4u) << dialogStatus.toStdString();
    EXPECT_EQ(row[0], "north-7");
    EXPECT_EQ(row[1], "2417");
    EXPECT_EQ(row[2], "1.17");
    EXPECT_EQ(row[3], "online");
    EXPECT_EQ(dialogStatus, QString::fromStdString("Connected to " + broker.url() + ": 1 unit."));

    ASSERT_TRUE(window->panelFeed().remote());
    EXPECT_FALSE(window->timers().isArmed(5001));
    EXPECT_EQ(window->statusPart(0), " Unit: north-7/2417");
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->statusPart(3) == "Broker: online"; }, 10000))
        << window->statusPart(3).toStdString();

    // A bad record is skipped with one line; the good one after it reaches the panel.
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(agent.publish(TopicKind::Record, "{\"v\":1,\"seq\":", false));
    ASSERT_TRUE(agent.publish(TopicKind::Record, recordPayload(1, recordLive()), false));
    const bool shown =
        QTest::qWaitFor([&] { return window->panelFeed().live.engine_speed == 1450; }, 10000);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(shown);
    EXPECT_EQ(LogRecord::fromLiveData(0, window->panelFeed().live),
              LogRecord::fromLiveData(0, recordLive()));
    EXPECT_NE(err.find("orvik-kvx: broker message on kvx/north-7/2417/record (13 bytes) skipped: "
                       "record: "),
              std::string::npos)
        << err;
    const int paints = window->paintCount();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->paintCount() > paints; }, 5000));
    EXPECT_EQ(window->panelInputs().live.engine_speed, 1450);

    ASSERT_TRUE(agent.publish(TopicKind::Status,
                              fleet::encodeStatus({fleet::UnitState::NoController,
                                                   "no reply from the controller", kTime * 1000}),
                              true));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return window->statusPart(3) == "Broker: no controller (no reply from the controller)";
        },
        10000))
        << window->statusPart(3).toStdString();
    picture(*window, "broker_panel_no_controller.png");
    ASSERT_TRUE(agent.publish(TopicKind::Status,
                              fleet::encodeStatus({fleet::UnitState::Offline, "", kTime * 1000}),
                              true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->statusPart(3) == "Broker: offline"; }, 10000))
        << window->statusPart(3).toStdString();
    EXPECT_EQ(window->panelFeed().live.engine_speed, 1450);  // the last good record stays
    QTest::qWait(100);
    picture(*window, "broker_panel.png");

    // The broker going away is on the status line; the record stays.
    broker.stop();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return window->statusPart(3).startsWith("Broker: lost"); }, 10000))
        << window->statusPart(3).toStdString();
    EXPECT_EQ(window->panelFeed().live.engine_speed, 1450);
}

TEST_F(BrokerViewTest, TheDialogSaysWhyABrokerIsNotListed) {
    struct Case {
        const char* what;
        std::string url;
        const char* password;
        mode_t mode;
        const char* says;
    };
    const Case cases[] = {
        {"others may read the credentials file", broker.url(), kViewerPassword, 0644,
         "is refused: "},
        {"a wrong password", broker.url(), "wrong", 0600, "refused"},
        {"not a broker URL", "http://127.0.0.1:1883", kViewerPassword, 0600, "is not one: "},
        {"nothing listening", "mqtt://127.0.0.1:1", kViewerPassword, 0600,
         "Not listed from mqtt://127.0.0.1:1: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramSettings settings;
        settings.brokerUrl = c.url;
        settings.brokerCredentialsFile = credentialsFile(c.password, c.mode);
        BrokerUnitDialog dialog(settings);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return dialog.statusText().contains(QString::fromUtf8(c.says)); }, 10000))
            << dialog.statusText().toStdString();
        EXPECT_EQ(dialog.unitList()->rowCount(), 0);
        // Open without a unit says so and keeps the dialog.
        dialog.accept();
        EXPECT_EQ(dialog.statusText(), "Choose a unit from the list first.");
        EXPECT_FALSE(dialog.choice());
    }
}

class TlsBrokerViewTest : public BrokerViewTest {
  protected:
    TlsBrokerViewTest() { tls = true; }
};

// mqtts: the broker's certificate is checked against the CA file the settings file names; one
// signed by another CA is not listed.
TEST_F(TlsBrokerViewTest, TheBrokersCertificateIsVerifiedAgainstTheCaFile) {
    Publisher agent(broker, ca.cert);
    ASSERT_TRUE(agent.start());
    ASSERT_TRUE(agent.publish(TopicKind::Identity,
                              fleet::encodeIdentity({"north-7", 2417, 117, 1, "1.0"}), true));
    const CertFiles otherCa = pki->makeCa("other", "Another CA");
    struct Case {
        const char* what;
        std::string caFile;
        int rows;
        const char* says;
    };
    const Case cases[] = {
        {"the CA that signed it", ca.cert, 1, "Connected to "},
        {"another CA", otherCa.cert, 0, "Not listed from "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramSettings settings;
        settings.brokerUrl = broker.url();
        settings.brokerCaFile = c.caFile;
        settings.brokerCredentialsFile = credentialsFile();
        BrokerUnitDialog dialog(settings);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return dialog.unitList()->rowCount() == c.rows &&
                       dialog.statusText().startsWith(QString::fromUtf8(c.says)) &&
                       (c.rows || dialog.statusText().contains("certificate verify failed"));
            },
            10000))
            << dialog.statusText().toStdString();
    }
}

}  // namespace
}  // namespace kvx::test
