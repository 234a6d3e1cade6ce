// The main window on the offscreen platform with a scripted controller behind the device
// link: menu, keys, commands, dialogs, status bar and the run/stop window.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <fstream>
#include <iterator>

#include "app/comm_port_dialog.h"
#include "app/connecting_dialog.h"
#include "app/core/window_texts.h"
#include "app/panel_view.h"
#include "app/port_properties_dialog.h"
#include "app/scaling_dialog.h"
#include "model/alarm_text.h"
#include "resources/resource_ids.h"
#include "tests/support/fake_link.h"
#include "ui/dialog_width.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() : dir(freshTestDir("kvx_win_")) {
        link.holding[2] = 117;
        link.holding[3] = 2417;
        link.holding[90] = 1;
        link.input[35] = 1200;  // engine speed
        link.input[66] = 1;     // external shutoff healthy
    }
    ~MainWindowTest() override {
        window.reset();
        fs::remove_all(dir);
    }
    void make() {
        WindowParams p;
        p.programDir = dir.string() + "/";
        p.link = &link;
        p.prompts = &prompts;
        p.terminate = [](int) { ADD_FAILURE() << "the window ended the process"; };
        window = std::make_unique<MainWindow>(p);
    }
    void startPolling() {
        make();
        window->startUp();
        ASSERT_TRUE(window->timers().isArmed(5001));
    }
    // Lets the window paint once more than now.
    bool nextPaint(int timeoutMs = 5000) {
        const int n = window->paintCount();
        return QTest::qWaitFor([&] { return window->paintCount() > n; }, timeoutMs);
    }
    std::string fileText(const char* name) {
        std::ifstream in(dir / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir;
    FakeLink link;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, WindowClassTitleIconAndMenu) {
    make();
    EXPECT_EQ(window->objectName(), "myWindowClass");
    EXPECT_EQ(window->windowTitle(), "Orvik Dravo Viewer V.1.37 ");
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(window->statusPart(0), "Velm2 Serial No.:");

    const struct {
        int id;
        const char* caption;
        bool enabled;
    } items[] = {
        {40001, "Connect        F12", true},
        {40002, "Disconnect", true},
        {40015, "Playback", true},
        {40013, "Enable", true},
        {40014, "Disable", true},
        {40009, "Exit", true},
        {40038, "&Fuel Pressure Schedule \tF2", true},
        {40039, "&Fuel Substittution Schedule \tF3", true},
        {40040, "&Temperature Settings \tF4", true},
        {40041, "&Vibration Settings \tF5", true},
        {40042, "&Calibrate \tF6", true},
        {40055, "&Flow Control Settings \tF8", true},
        {40006, "Comm Port", true},
        {40007, "Comm Port Properties", true},
        {40019, "&Zoom In      ", true},
        {40020, "&Zoom Out    ", true},
        {40044, "Upload Settings", true},
        {40045, "Download Settings", true},
        {40046, "Scaling Settings", true},
        {40049, "Vibration Max Schedule", true},
        {40051, "Alarm Acknowledgment", true},
        {40054, "Emal Messaging", true},
        {40056, "Event Log", true},
        {40052, "Left Bank", true},
        {40053, "Right Bank", true},
    };
    for (const auto& item : items) {
        QAction* a = window->action(item.id);
        ASSERT_NE(a, nullptr) << item.id;
        EXPECT_EQ(a->text().toStdString(), item.caption) << item.id;
        EXPECT_EQ(a->isEnabled(), item.enabled) << item.id;
    }
    QStringList menus;
    for (QAction* a : window->menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{"Action", "Settings", "Comm Setup", "Zoom", "Tools", "View"}));
}

TEST_F(MainWindowTest, LogFileItemsOnlyMoveTheirTicks) {
    startPolling();
    EXPECT_TRUE(window->action(40013)->isChecked());
    EXPECT_FALSE(window->action(40014)->isChecked());
    window->action(40014)->trigger();
    QTest::qWait(50);
    EXPECT_FALSE(window->action(40013)->isChecked());
    EXPECT_TRUE(window->action(40014)->isChecked());
    // Logging goes on.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->logWriter().isOpen(); }, 3000));
    const auto before = link.countReads('I', 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.countReads('I', 1) > before + 2; }, 3000));
    EXPECT_TRUE(window->logWriter().isOpen());
    window->action(40013)->trigger();
    QTest::qWait(50);
    EXPECT_TRUE(window->action(40013)->isChecked());
    EXPECT_FALSE(window->action(40014)->isChecked());
}

TEST_F(MainWindowTest, ReconnectAutomaticallyIsAMenuSwitchKeptInTheSettingsFile) {
    std::ofstream(dir / "kvx_settings.conf") << "# kept\nreconnect_automatically = yes\n";
    startPolling();
    QAction* item = window->action(res::kCmdReconnectAutomatically);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "Reconnect automatically");
    EXPECT_TRUE(item->isCheckable());
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(window->settings().reconnectAutomatically);
    item->trigger();
    QTest::qWait(50);
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(window->settings().reconnectAutomatically);
    EXPECT_EQ(fileText("kvx_settings.conf"), "# kept\nreconnect_automatically = no\n");
    // A file that cannot be replaced: the switch holds for this run and a box says why.
    fs::create_directory(dir / "kvx_settings.conf.tmp");
    item->trigger();
    QTest::qWait(50);
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(window->settings().reconnectAutomatically);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].title, "Reconnect automatically");
    EXPECT_NE(prompts.boxes[0].text.find("could not be kept"), std::string::npos);
    EXPECT_EQ(fileText("kvx_settings.conf"), "# kept\nreconnect_automatically = no\n");
}

TEST_F(MainWindowTest, StartUpWithoutCommFileUsesCom5AndSlave1) {
    startPolling();
    EXPECT_EQ(link.openedName, "COM5");
    EXPECT_EQ(link.timeout, 3000);
    for (const auto& c : link.calls) {
        if (c.kind == 'H' || c.kind == 'I') {
            EXPECT_EQ(c.slave, 1);
        }
    }
    // Nine identity reads, then the ranges; the dialog is gone and polling runs.
    int identityReads = 0;
    for (const auto& c : link.calls) {
        if (c.kind == 'H' && c.ref == 23) break;
        identityReads += c.kind == 'H' && c.ref == 1;
    }
    EXPECT_EQ(identityReads, 9);
    EXPECT_EQ(window->connectingDialog(), nullptr);
    EXPECT_FALSE(window->timers().isArmed(5003));
    EXPECT_TRUE(window->timers().isArmed(5004));
    EXPECT_EQ(window->windowTitle(), "Orvik Dravo Viewer v.1.37  ___  Firmware v. 1.17 ");
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(MainWindowTest, StartUpReadsBothConfigurationFiles) {
    std::ofstream(dir / "kvx_comm_config.dat") << "COM9 4";
    std::ofstream(dir / "scaling_config.dat") << "500 2500";
    link.holding[4] = 4;
    startPolling();
    EXPECT_EQ(link.openedName, "COM9");
    EXPECT_EQ(link.calls.back().slave, 4);
    EXPECT_DOUBLE_EQ(window->controller().state().ranges.speedMin, 500);
    EXPECT_DOUBLE_EQ(window->controller().state().ranges.speedMax, 2500);
}

TEST_F(MainWindowTest, PortThatDoesNotOpenLeavesTheWindowWaiting) {
    link.openResult = MBR_OPEN_FAILED;
    make();
    window->startUp();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Error opening communication port!\n");
    EXPECT_EQ(prompts.boxes[0].title, "Notice(B_9600)");
    EXPECT_FALSE(window->controller().state().connected);
    ASSERT_TRUE(nextPaint());
    EXPECT_EQ(window->statusPart(3), "Communication Status: Waiting for data");
    QTest::qWait(500);
    EXPECT_FALSE(window->timers().isArmed(5001));
    EXPECT_EQ(link.countReads('H', 1), 0);
}

TEST_F(MainWindowTest, CancelInTheConnectingDialogStopsTheSequence) {
    link.silent = true;
    make();
    whenModal("110", [](QWidget& d) { press(d, "2"); });
    window->startUp();
    EXPECT_FALSE(window->controller().state().connected);
    EXPECT_FALSE(window->timers().isArmed(5003));
    const int reads = link.countReads('H', 1);
    QTest::qWait(600);
    EXPECT_EQ(link.countReads('H', 1), reads);
    window->panelView()->update();
    ASSERT_TRUE(nextPaint());
    EXPECT_EQ(window->statusPart(3), "Communication Status: Waiting for data");
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(MainWindowTest, ConnectingDialogGivesUpAfter300TicksWithOneBox) {
    link.silent = true;  // answers nothing, at once
    make();
    QElapsedTimer t;
    t.start();
    window->startUp();
    EXPECT_GE(t.elapsed(), 300 * ConnectingDialog::kTickMs);
    EXPECT_EQ(prompts.count("Connection failed. \nPlease check the cable, communication port and "
                            "device ID settings."),
              1);
    EXPECT_EQ(prompts.boxes.at(0).title, "Communication Timeout");
    EXPECT_FALSE(window->controller().state().connected);
    QTest::qWait(1500);  // the sequence must not give up a second time
    EXPECT_EQ(prompts.boxes.size(), 1u);
}

// The give-up's Cancel is posted before its box opens; while the box stays open the connection
// sequence must already have stopped, or its own give-up shows a second box behind the first.
TEST_F(MainWindowTest, GiveUpBoxLeftOpenStopsTheSequenceAtOnce) {
    link.silent = true;  // every read fails at once
    make();
    bool held = false;
    prompts.holdBox = [&](const RecordedBox&) {
        if (held) return;
        held = true;
        QTest::qWait(1500);  // the sequence timer ticks on behind the box
    };
    window->startUp();
    QTest::qWait(300);
    ASSERT_TRUE(held);
    EXPECT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes.at(0).title, "Communication Timeout");
    EXPECT_FALSE(window->controller().state().connected);
    EXPECT_FALSE(window->timers().isArmed(5003));
}

TEST_F(MainWindowTest, PollingFillsTheStatusBar) {
    link.input[18] = 0x0020;  // overspeed
    startPolling();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->statusPart(3) == "Communication Status: Receiving data"; }, 3000));
    EXPECT_EQ(window->statusPart(0), " Orvik Dravo Serial Nr: 2417");
    EXPECT_EQ(window->statusPart(1), " Indicator: 1");
    EXPECT_EQ(window->statusPart(2), "Alarm Status:  Overspeed ! ");
    EXPECT_EQ(window->panelFeed().live.engine_speed, 1200);
}

TEST_F(MainWindowTest, StatusBarPartsFollowTheWindowWidth) {
    startPolling();
    window->showNormal();
    window->resize(1600, 900);  // wide enough for the serial number at w / 9.5
    QTest::qWait(50);
    const int w = window->statusBar()->width();
    EXPECT_EQ(window->statusPartWidth(0), static_cast<int>(w / 9.5));
    EXPECT_EQ(window->statusPartWidth(1), static_cast<int>(w / 4.5) - static_cast<int>(w / 9.5));
    EXPECT_EQ(window->statusPart(0).isEmpty(), false);
}

// The parts as laid out on screen: the bar's margin and spacing must not push them off the
// rule's edges, and the last part never slides under the one before.
TEST_F(MainWindowTest, StatusBarPartRightEdgesLandOnTheRule) {
    make();
    window->showNormal();
    // At 800 pixels w / 9.5 is too little for the serial number: part 0 ends where the
    // number needs (-1 here), and the parts after it keep their edges.
    const struct {
        int width;
        std::array<int, 3> edges;  // w / 9.5, w / 4.5, w / 1.35
    } cases[] = {{1600, {168, 355, 1185}}, {800, {-1, 177, 592}}, {1366, {143, 303, 1011}}};
    for (const auto& c : cases) {
        window->resize(c.width, 700);
        QTest::qWait(20);
        ASSERT_EQ(window->statusBar()->width(), c.width);
        int previousRight = 0;
        for (int i = 0; i < 4; ++i) {
            const QLabel* part = window->statusBar()->findChild<QLabel*>(QString("part%1").arg(i));
            ASSERT_NE(part, nullptr);
            ASSERT_TRUE(part->isVisible()) << c.width << " part " << i;
            const QRect r = part->geometry();
            if (i < 3 && c.edges[i] >= 0) {
                EXPECT_EQ(r.x() + r.width(), c.edges[i]) << c.width << " part " << i;
            } else if (i == 0) {
                EXPECT_GT(r.x() + r.width(), static_cast<int>(c.width / 9.5)) << c.width;
            }
            EXPECT_GE(r.x(), previousRight) << c.width << " part " << i;
            EXPECT_LE(r.x() + r.width(), c.width) << c.width << " part " << i;
            previousRight = r.x() + r.width();
        }
        EXPECT_GT(previousRight, c.edges[2] + 100) << c.width;  // the last part has room
    }
}

// From 1366 pixels on every part holds its text whole; where one cannot, its tooltip holds it.
TEST_F(MainWindowTest, StatusPartTextsFitFrom1366OrShowAsTooltip) {
    make();
    window->showNormal();
    auto partAt = [&](int i) {
        return window->statusBar()->findChild<QLabel*>(QString("part%1").arg(i));
    };
    auto fits = [&](int i, const std::string& text) {
        const QLabel* part = partAt(i);
        const QFontMetrics fm(part->font());
        const int frame = part->width() - part->contentsRect().width();
        return fm.horizontalAdvance(QString::fromStdString(text)) + frame + part->indent() <=
               part->width();
    };
    const struct {
        int part;
        std::string text;
    } texts[] = {
        {0, serialNumberText(2417)},
        {0, serialNumberText(12345)},
        {0, serialNumberText(-32768)},
        {1, indicatorText(3)},
        {2, formatAlarmStatus(1 << 3)},  // the longest single alarm
        {2, formatAlarmStatus(0x000F)},
        {2, "Alarm Status: Local Shutoff Switch ! External Shutoff Switch !"},
        {3, commStatusText(-1)},
        {3, commStatusText(1)},
        {3, commStatusText(0)},
        {3, commStatusText(kCommStatusPlayback)},
    };
    for (int width : {1366, 1920}) {
        window->resize(width, 700);
        QTest::qWait(20);
        for (const auto& t : texts)
            EXPECT_TRUE(fits(t.part, t.text)) << width << " part " << t.part << ": " << t.text;
    }

    // What the window shows: whole, no tooltip; too long for the part, the tooltip holds it.
    window->resize(1366, 700);
    // A controller of serial number 12345 with every alarm on, connected and polled once.
    link.holding[3] = 12345;
    link.input[18] = 0x07FF;
    window->controller().connect();
    window->controller().pollTick();
    window->panelView()->update();
    ASSERT_TRUE(nextPaint());
    EXPECT_EQ(partAt(0)->text(), QString::fromStdString(serialNumberText(12345)));
    EXPECT_TRUE(partAt(0)->toolTip().isEmpty());
    const QString allAlarms = QString::fromStdString(formatAlarmStatus(0x07FF));
    ASSERT_FALSE(fits(2, allAlarms.toStdString()));
    EXPECT_EQ(partAt(2)->text(), allAlarms);
    EXPECT_EQ(partAt(2)->toolTip(), allAlarms);
    EXPECT_TRUE(partAt(3)->toolTip().isEmpty());

    // Narrower, the indicator no longer fits (the serial number keeps its room); wider again,
    // the tooltip goes.
    const QString indicator = partAt(1)->text();
    ASSERT_FALSE(indicator.isEmpty());
    EXPECT_TRUE(partAt(1)->toolTip().isEmpty());
    window->resize(800, 700);
    QTest::qWait(20);
    EXPECT_EQ(partAt(1)->toolTip(), indicator);
    EXPECT_TRUE(partAt(0)->toolTip().isEmpty());
    window->resize(1366, 700);
    QTest::qWait(20);
    EXPECT_TRUE(partAt(1)->toolTip().isEmpty());
}

// A 1024-pixel screen (many field laptops) still shows the whole serial number, whatever its
// sixteen bits hold, in the bar's own font.
TEST_F(MainWindowTest, SerialNumberPartHoldsEveryFiveDigitNumberFrom1024Pixels) {
    make();
    window->showNormal();
    const QLabel* part0 = window->statusBar()->findChild<QLabel*>("part0");
    ASSERT_NE(part0, nullptr);
    for (int width : {1024, 1100, 1280}) {
        window->resize(width, 700);
        QTest::qWait(20);
        ASSERT_EQ(window->statusBar()->width(), width);
        const QFontMetrics fm(part0->font());
        const int room = part0->contentsRect().width() - part0->indent();
        for (int serial : {32767, -32768, 22222}) {
            const QString text = QString::fromStdString(serialNumberText(serial));
            EXPECT_LE(fm.horizontalAdvance(text), room) << width << ": " << text.toStdString();
        }
    }
    // What the window shows at 1024: the whole text, and no tooltip standing in for it.
    window->resize(1024, 700);
    link.holding[3] = 32767;
    window->controller().connect();  // reads the serial number
    window->panelView()->update();
    ASSERT_TRUE(nextPaint());
    EXPECT_EQ(part0->text(), " Orvik Dravo Serial Nr: 32767");
    EXPECT_TRUE(part0->toolTip().isEmpty());
}

TEST(WindowLayout, SerialPartEdgeHoldsPartZeroOpenOnNarrowBars) {
    const struct {
        int width, serialPartEdge;
        StatusEdges edges;
    } cases[] = {
        {1280, 0, {134, 284, 948, -1}},    // no floor: the proportional rule
        {1280, 120, {134, 284, 948, -1}},  // w / 9.5 is wider already
        {1024, 141, {141, 227, 758, -1}},  // the floor holds part 0's edge
        {800, 141, {141, 177, 592, -1}},   // later edges stay where the rule puts them
        {600, 141, {141, 133, 444, -1}},   // part 1 is left behind: empty
        {100, 141, {100, 22, 74, -1}},     // never past the end of the bar
    };
    for (const auto& c : cases)
        EXPECT_EQ(statusEdgesForWidth(c.width, c.serialPartEdge), c.edges) << c.width;
}

TEST(WindowDialogs, EveryTitleFitsItsTitleBar) {
    ProgramSettings settings;
    PortConfig config;
    ScriptedPrompts prompts;
    int ticks = 0;
    CommPortDialog comm(settings);
    PortPropertiesDialog properties("COM5", config);
    ScalingDialog scaling(settings, ::testing::TempDir());
    ConnectingDialog connecting(prompts, ticks, {});
    for (const QDialog* d :
         std::initializer_list<const QDialog*>{&comm, &properties, &scaling, &connecting})
        EXPECT_GE(d->minimumWidth(), titleBarWidth(d->windowTitle()))
            << d->windowTitle().toStdString();
}

TEST_F(MainWindowTest, CommPortToAWorkingPortRunsTheSequenceAgain) {
    startPolling();
    whenModal("108", [](QWidget& d) {
        EXPECT_EQ(d.findChild<QLineEdit*>("1001")->text(), "5");
        typeInto(d, "1001", "7");
        whenModal("portProperties", [](QWidget& p) { static_cast<QDialog&>(p).reject(); });
        press(d, "1");
    });
    window->onCommand(40006);
    EXPECT_EQ(link.openedName, "COM7");
    EXPECT_EQ(window->timers().interval(5003), 500);
    ASSERT_TRUE(window->timers().isArmed(5003));
    EXPECT_FALSE(window->timers().isArmed(5001));
    // Nine fresh good reads, then polling again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->timers().isArmed(5001); }, 8000));
    EXPECT_FALSE(window->timers().isArmed(5003));
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(MainWindowTest, CancelInTheCommPortDialogLeavesPollingStopped) {
    startPolling();
    whenModal("108", [](QWidget& d) { press(d, "2"); });
    window->onCommand(40006);
    EXPECT_FALSE(window->timers().isArmed(5001));
    EXPECT_EQ(window->settings().portName, "COM5");
    EXPECT_FALSE(fs::exists(dir / "kvx_comm_config.dat"));
}

TEST_F(MainWindowTest, ScalingDialogWritesTheFileAndTheSpeedDialTakesTheRange) {
    startPolling();
    whenModal("142", [](QWidget& d) {
        typeInto(d, "1051", "500");
        typeInto(d, "1052", "2500");
        press(d, "1");
    });
    window->onCommand(40046);
    EXPECT_EQ(fileText("scaling_config.dat"), "500 2500");
    ASSERT_TRUE(nextPaint());
    EXPECT_DOUBLE_EQ(window->panel().gauge(Panel::SpeedDial).rangeMin(), 500);
    EXPECT_DOUBLE_EQ(window->panel().gauge(Panel::SpeedDial).rangeMax(), 2500);
    EXPECT_TRUE(window->timers().isArmed(5001));  // polling never stopped

    // Close changes nothing; the fields show the range in force, and an empty one is refused
    // with the dialog left open, nothing written.
    whenModal("142", [](QWidget& d) { press(d, "2"); });
    window->onCommand(40046);
    EXPECT_EQ(fileText("scaling_config.dat"), "500 2500");
    whenModal("142", [](QWidget& d) {
        EXPECT_EQ(d.findChild<QLineEdit*>("1051")->text(), "500");
        EXPECT_EQ(d.findChild<QLineEdit*>("1052")->text(), "2500");
        typeInto(d, "1051", "");
        press(d, "1");
        EXPECT_TRUE(d.isVisible());
        press(d, "2");
    });
    window->onCommand(40046);
    EXPECT_EQ(fileText("scaling_config.dat"), "500 2500");
    EXPECT_EQ(window->settings().speedMin, 500);
}

}  // namespace
}  // namespace kvx::test
