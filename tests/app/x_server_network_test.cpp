// The window against the simulated controller served over the network, in each framing a
// technician meets in the field: RTU frames through a serial device server, Modbus TCP to a
// gateway, and Modbus/TCP Security. Polling, logging, a settings screen's write read back, and
// a connection the far end drops (a gateway restarted) that the window recovers from by itself.
#include <sys/stat.h>

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <fstream>

#include "app/core/program_settings.h"
#include "app/traffic_window.h"
#include "link/tls_context.h"
#include "resources/resource_ids.h"
#include "tests/link/test_pki.h"
#include "x_server_harness.h"

namespace kvx::test {
namespace {

enum class Transport { RtuOverTcp, ModbusTcp, ModbusTls };

std::string transportName(const ::testing::TestParamInfo<Transport>& info) {
    switch (info.param) {
        case Transport::RtuOverTcp:
            return "RtuOverTcp";
        case Transport::ModbusTcp:
            return "ModbusTcp";
        case Transport::ModbusTls:
            return "ModbusTls";
    }
    return "?";
}

class XNetwork : public ::testing::TestWithParam<Transport> {
  protected:
    void SetUp() override {
        dir = freshTestDir("kvx_xnet_");
        programDir = dir.string() + "/";
        if (GetParam() == Transport::ModbusTls) {
            pki = std::make_unique<TestPki>("xnet");
            ca = pki->makeCa("ca", "Plant CA");
            server = pki->makeCert("gateway", ca, "gateway", {"IP:127.0.0.1"});
            client = pki->makeCert("viewer", ca, "viewer", {});
            // The viewer's TLS files come from its settings file, the key readable by it alone.
            ::chmod(client.key.c_str(), 0600);
            std::string why;
            ASSERT_TRUE(writeOption(programDir, kTlsCaFileKey, ca.cert, why)) << why;
            ASSERT_TRUE(writeOption(programDir, kTlsCertFileKey, client.cert, why)) << why;
            ASSERT_TRUE(writeOption(programDir, kTlsKeyFileKey, client.key, why)) << why;
        }
        ASSERT_TRUE(startSimulator(0));
        ProgramSettings comm;
        comm.portName = portName;
        comm.slaveId = 1;
        ASSERT_TRUE(writeCommFile(programDir, comm));

        link = std::make_unique<RtuDeviceLink>(programDir);
        p.programDir = programDir;
        p.link = link.get();
        p.prompts = &prompts;
        p.replyTimeoutMs = 300;
        p.terminate = [](int) { ADD_FAILURE() << "the window ended the process"; };
    }
    void TearDown() override {
        if (window) window->shutDown();
        window.reset();
        if (sim) sim->stop();
        fs::remove_all(dir);
    }

    // A fresh simulator listening on port (0: a free one), as a gateway that has (re)started.
    bool startSimulator(int port) {
        if (sim) sim->stop();
        sim = std::make_unique<sim::SimServer>();
        sim::ListenConfig config;
        config.address.port = port;
        config.framing =
            GetParam() == Transport::RtuOverTcp ? sim::Framing::rtu : sim::Framing::mbap;
        std::string why;
        if (GetParam() == Transport::ModbusTls) {
            config.tls = TlsContext::server(server.cert, server.key, ca.cert, why);
            if (!config.tls) {
                ADD_FAILURE() << why;
                return false;
            }
        }
        if (!sim->listen(config, why)) {
            ADD_FAILURE() << why;
            return false;
        }
        const char* scheme = GetParam() == Transport::RtuOverTcp  ? "tcp://"
                             : GetParam() == Transport::ModbusTcp ? "modbus-tcp://"
                                                                  : "modbus-tls://";
        portName = scheme + sim->listenAddress();
        return true;
    }

    bool receiving(int ms) {
        return QTest::qWaitFor(
            [&] { return window->statusPart(3) == "Communication Status: Receiving data"; }, ms);
    }

    // Bytes in the program directory's log files.
    std::uintmax_t loggedBytes() {
        std::uintmax_t n = 0;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == ".log") n += e.file_size();
        return n;
    }

    std::int16_t holding(int ref) {
        return sim->withEngine([ref](sim::ControllerEngine& e) { return e.holding(ref); });
    }

    fs::path dir;
    std::string programDir;
    std::string portName;
    std::unique_ptr<TestPki> pki;
    CertFiles ca, server, client;
    std::unique_ptr<sim::SimServer> sim;
    std::unique_ptr<RtuDeviceLink> link;
    ScriptedPrompts prompts;
    WindowParams p;
    std::unique_ptr<MainWindow> window;
};

TEST_P(XNetwork, PollsLogsWritesASettingAndRecoversFromADroppedConnection) {
    window = std::make_unique<MainWindow>(p);
    window->startUp();
    ASSERT_TRUE(receiving(15000)) << window->statusPart(3).toStdString();
    EXPECT_EQ(window->settings().portName, portName);

    // Logging: the records of good polls reach the hour's file.
    ASSERT_TRUE(QTest::qWaitFor([&] { return loggedBytes() > 0; }, 10000));
    const std::uintmax_t logged = loggedBytes();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loggedBytes() > logged; }, 10000));

    // A settings screen's write, typed and saved by keys and clicks, reaches the controller.
    const std::int16_t typed = holding(108) == 1234 ? 1235 : 1234;
    bool ran = false;
    whenModal(QString::number(res::kFlowControlDialog), [&](QWidget& d) {
        ran = true;
        auto* field = d.findChild<QLineEdit*>(QStringLiteral("1100"));  // Temperature Maximum
        auto* save = d.findChild<QPushButton*>(QStringLiteral("3"));
        auto* close = d.findChild<QPushButton*>(QStringLiteral("2"));
        if (field && save && close && makeActive(&d)) {
            xdotoolClick(field);
            EXPECT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }, 3000));
            xdotoolKey("ctrl+a");
            xdotoolType(QString::number(typed));
            xdotoolClick(save);
            EXPECT_TRUE(QTest::qWaitFor([&] { return holding(108) == typed; }, 5000));
            xdotoolClick(close);
        }
        if (!QTest::qWaitFor([&] { return !d.isVisible(); }, 5000))
            QMetaObject::invokeMethod(qobject_cast<QDialog*>(&d), &QDialog::reject,
                                      Qt::QueuedConnection);
    });
    ASSERT_TRUE(makeActive(window.get()));
    ASSERT_TRUE(xdotoolKey("F8"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran && !QApplication::activeModalWidget(); }, 30000));
    EXPECT_EQ(holding(108), typed);
    // Polling comes back by itself (the screen's own Disconnect and Connect) before the
    // gateway is restarted below.
    const long goodTicks = window->controller().state().goodTicks;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->controller().state().goodTicks > goodTicks + 5; }, 15000))
        << "polling did not come back after the settings screen";
    // The gateway restarts: the connection is gone, and the same address answers again. The
    // window's bad ticks lead to a Connect that opens a new connection; no box is needed.
    const int port = sim->listenPort();
    const std::size_t boxes = prompts.boxes.size();
    const long badTicks = window->controller().state().counts.badTickCount();
    ASSERT_TRUE(startSimulator(port));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->controller().state().counts.badTickCount() > badTicks; }, 10000));
    // Served again by the restarted simulator, with polling and logging back.
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->stats().requests > 10; }, 20000));
    ASSERT_TRUE(receiving(5000)) << window->statusPart(3).toStdString();
    EXPECT_TRUE(window->controller().state().connected);
    EXPECT_EQ(prompts.boxes.size(), boxes);
    const std::uintmax_t before = loggedBytes();
    EXPECT_TRUE(QTest::qWaitFor([&] { return loggedBytes() > before; }, 10000));
}

// The Traffic window, open from before the first network open, shows this transport's own
// frames once the open has ended, and an exception reply (code 4) among them in red.
TEST_P(XNetwork, TrafficWindowShowsTheFramesOfThisTransport) {
    window = std::make_unique<MainWindow>(p);
    window->onCommand(res::kCmdTraffic);
    TrafficWindow* traffic = window->trafficWindow();
    ASSERT_NE(traffic, nullptr);
    window->startUp();
    ASSERT_TRUE(receiving(10000)) << window->statusPart(3).toStdString();
    sim->faultAt(sim->stats().requests + 3, sim::FaultKind::exception);
    auto find = [&](const QString& part) {
        const TrafficLines& lines = traffic->lines();
        for (int r = 0; r < lines.rowCount(); ++r)
            if (lines.shownLine(r).text.contains(part)) return r;
        return -1;
    };
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return find(QStringLiteral(" exception 4 (")) >= 0; }, 10000));
    // A request for the input registers: after the MBAP header (transaction, protocol 0,
    // length 6, unit 1) on Modbus TCP, with its CRC over a device server.
    const bool mbap = GetParam() != Transport::RtuOverTcp;
    const QString request = mbap ? QStringLiteral(" 00 00 00 06 01 04 00 00 00 2C")
                                 : QStringLiteral(" TX 01 04 00 00 00 2C F1 D7");
    const int row = find(request);
    ASSERT_GE(row, 0) << request.toStdString();
    EXPECT_EQ(traffic->lines().shownLine(row).kind, TrafficLineKind::Request);
    EXPECT_GE(find(QStringLiteral(" good (")), 0);
    EXPECT_EQ(traffic->lines().shownLine(find(QStringLiteral(" exception 4 ("))).kind,
              TrafficLineKind::Error);
    traffic->close();
    EXPECT_FALSE(traffic->recording());
}

INSTANTIATE_TEST_SUITE_P(Transports, XNetwork,
                         ::testing::Values(Transport::RtuOverTcp, Transport::ModbusTcp,
                                           Transport::ModbusTls),
                         transportName);

}  // namespace
}  // namespace kvx::test
