// The settings commands on the real window against the simulated controller: each command
// opens its screen, typed values reach the controller and survive the save and the reconnect,
// failures leave polling as the command says.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <utility>

#include "app/main_window.h"
#include "link/rtu_device_link.h"
#include "model/alarm_text.h"
#include "model/registers.h"
#include "resources/resource_ids.h"
#include "settings/restore_dialog.h"
#include "sim/sim_server.h"
#include "tests/support/file_size_limit.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReceiving = "Communication Status: Receiving data";

std::string fileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class SettingsEndToEndTest : public ::testing::Test {
  protected:
    SettingsEndToEndTest() : dir(freshTestDir("kvx_settings_e2e_")) {}
    ~SettingsEndToEndTest() override {
        window.reset();
        link.reset();
        if (sim) sim->stop();
        fs::remove_all(dir);
    }
    // The window connected to a simulator of this firmware and polling.
    void start(int firmware = 117, sim::SimServer::ReplyHook hook = {}) {
        launch(firmware, std::move(hook));
        ASSERT_TRUE(polling());
    }
    // The window started against the simulator; beforeStartUp runs once the simulator serves.
    void launch(int firmware = 117, sim::SimServer::ReplyHook hook = {},
                const std::function<void()>& beforeStartUp = {}) {
        sim::EngineConfig config;
        config.firmware = firmware;
        sim = std::make_unique<sim::SimServer>(config);
        if (hook) sim->setReplyHook(std::move(hook));
        ASSERT_EQ(sim->start(), 0);
        fs::create_symlink(sim->devicePath(), dir / "COM5");
        link = std::make_unique<RtuDeviceLink>(dir.string() + "/");
        WindowParams p;
        p.programDir = dir.string() + "/";
        p.link = link.get();
        p.prompts = &prompts;
        p.replyTimeoutMs = 150;
        p.terminate = [](int) {};
        window = std::make_unique<MainWindow>(p);
        if (beforeStartUp) beforeStartUp();
        window->startUp();
    }
    bool polling(int ms = 5000) {
        return QTest::qWaitFor(
            [&] { return window->statusPart(3) == kReceiving && window->timers().isArmed(5001); },
            ms);
    }
    std::int16_t simHolding(int ref) {
        return sim->withEngine([ref](sim::ControllerEngine& e) { return e.holding(ref); });
    }
    // A dialog that must not come: if it does, it is closed at once and shown is set. The watch
    // ends with the returned timer, so a dialog that rightly never came cannot catch a later
    // test's.
    std::unique_ptr<QTimer> closeWhenShown(const char* id, bool& shown) {
        auto watch = std::make_unique<QTimer>();
        QObject::connect(watch.get(), &QTimer::timeout, [id, &shown] {
            QWidget* d = QApplication::activeModalWidget();
            if (!d || d->objectName() != id) return;
            shown = true;
            QTest::keyClick(d, Qt::Key_Escape);
        });
        watch->start(10);
        return watch;
    }
    // Types an access code into the password dialog when it comes up, then runs next.
    void answerPassword(const char* code, std::function<void()> next = {}) {
        whenModal("112", [code, next](QWidget& d) {
            if (next) next();
            typeInto(d, "1022", code);
            press(d, "1");
        });
    }

    fs::path dir;
    std::unique_ptr<sim::SimServer> sim;
    std::unique_ptr<RtuDeviceLink> link;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
};

TEST_F(SettingsEndToEndTest, EachCommandOpensItsScreenAndReconnectsAfterwards) {
    start();
    struct Case {
        int command;
        const char* dialog;
        bool password;
    };
    const Case cases[] = {
        {40038, "137", false}, {40039, "139", false}, {40040, "141", false}, {40041, "140", false},
        {40049, "143", false}, {40055, "149", false}, {40054, "148", true},  {40051, "144", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        bool opened = false;
        auto closeScreen = [&opened, &c] {
            whenModal(c.dialog, [&opened](QWidget& d) {
                opened = true;
                QTest::keyClick(&d, Qt::Key_Escape);
            });
        };
        if (c.password)
            answerPassword("5182", closeScreen);
        else
            closeScreen();
        window->onCommand(c.command);
        EXPECT_TRUE(opened);
        EXPECT_TRUE(polling());
    }
    EXPECT_EQ(prompts.count("For assistance regarding valve settings  \nplease contact \n\n"
                            "Engineering Department \nOrvik Corporation\n\n"
                            "Tel: +1 (555) 014-2280\nFax: +1 (555) 014-2281"),
              2);
}

TEST_F(SettingsEndToEndTest, ChangedValuesReachTheControllerAndSurviveSaveAndReconnect) {
    start();
    const int savesBefore = sim->withEngine([](sim::ControllerEngine& e) { return e.saveCount(); });
    QString status;
    whenModal("141", [&](QWidget& d) {
        typeInto(d, "1100", "1300");
        press(d, "1");
        status = d.findChild<QWidget*>("1034")->property("text").toString();
        press(d, "3");
    });
    QTest::keyClick(window.get(), Qt::Key_F4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !status.isEmpty(); }, 5000));
    EXPECT_EQ(status, "Valve settings are successfully updated!");
    EXPECT_EQ(simHolding(77), 1300);
    EXPECT_EQ(window->controller().state().ranges.exhaust_temp_avg_shutdown_max, 1300);
    ASSERT_TRUE(polling());
    EXPECT_EQ(sim->withEngine([](sim::ControllerEngine& e) { return e.saveCount(); }),
              savesBefore + 1);
    EXPECT_EQ(simHolding(77), 1300);
    EXPECT_EQ(window->controller().state().ranges.exhaust_temp_avg_shutdown_max, 1300);

    // Flow control writes a field as the user leaves it.
    bool closed = false;
    whenModal("149", [&](QWidget& d) {
        d.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
        auto* battery = d.findChild<QLineEdit*>("1128");
        battery->setFocus();
        battery->setText("12.6");
        d.findChild<QLineEdit*>("1129")->setFocus();
        EXPECT_TRUE(QTest::qWaitFor([&] { return simHolding(107) == 126; }, 3000));
        press(d, "2");
        closed = true;
    });
    QTest::keyClick(window.get(), Qt::Key_F8);  // posts the command
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed; }, 5000));
    EXPECT_EQ(simHolding(107), 126);
    EXPECT_TRUE(polling());
}

TEST_F(SettingsEndToEndTest, ReadFailureShowsTheBoxAndLeavesPollingStopped) {
    start();
    const sim::FaultKind noReply[] = {sim::FaultKind::noReply};
    sim->scriptFaults(noReply);
    window->onCommand(40040);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Failed to read valve settings.");
    EXPECT_EQ(prompts.boxes[0].title, "Notice");
    EXPECT_EQ(prompts.boxes[0].icon, BoxIcon::Warning);
    EXPECT_TRUE(prompts.boxes[0].owned);
    QTest::qWait(600);
    EXPECT_FALSE(window->timers().isArmed(5001));

    // The acknowledgment's check failing: a bare box, and Connect still follows.
    sim->scriptFaults(noReply);
    window->onCommand(40051);
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[1].text, "Dravo Viewer is not connected to the system.");
    EXPECT_EQ(prompts.boxes[1].title, "");
    EXPECT_EQ(prompts.boxes[1].icon, BoxIcon::None);
    EXPECT_FALSE(prompts.boxes[1].owned);
    EXPECT_TRUE(polling());
}

TEST_F(SettingsEndToEndTest, WrongAccessCodeKeepsThePasswordDialogOpenUntilCancel) {
    start();
    bool stillOpen = false, cleared = false;
    whenModal("112", [&](QWidget& d) {
        for (int i = 0; i < 2; ++i) {
            typeInto(d, "1022", "1234");
            press(d, "1");
        }
        stillOpen = d.isVisible() && QApplication::activeModalWidget() == &d;
        cleared = d.findChild<QLineEdit*>("1022")->text().isEmpty();
        press(d, "2");
    });
    window->onCommand(40042);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(cleared);
    EXPECT_EQ(prompts.count("The password is incorrect!  \nPlease contact \n\nEngineering "
                            "Department \nOrvik Corporation\n\nTel: +1 (555) 014-2280\nFax: +1 "
                            "(555) 014-2281"),
              2);
    EXPECT_EQ(prompts.boxes.back().title, "Warning");
    QTest::qWait(600);
    EXPECT_FALSE(window->timers().isArmed(5001));
    QTest::keyClick(window.get(), Qt::Key_F12);
    EXPECT_TRUE(polling());
}

TEST_F(SettingsEndToEndTest, AcknowledgmentClearsTheAlarmAndLeavesTheEmergencyStopOff) {
    start();
    // A latched exhaust alarm: limit 1 degree, no delay; then the limit back where it was.
    sim->withEngine([](sim::ControllerEngine& e) {
        const std::int16_t on[] = {1, 0, 1, 0};
        return e.writeHolding(75, on, 4, e.elapsedMs());
    });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return sim->withEngine([](sim::ControllerEngine& e) { return e.alarmWord(); }); },
        5000));
    sim->withEngine([](sim::ControllerEngine& e) {
        const std::int16_t off[] = {0, 0, 1250, 10};
        return e.writeHolding(75, off, 4, e.elapsedMs());
    });
    answerPassword("6297", [] { whenModal("144", [](QWidget& d) { press(d, "1"); }); });
    window->onCommand(40051);
    EXPECT_EQ(sim->withEngine([](sim::ControllerEngine& e) { return e.alarmWord(); }), 0);
    EXPECT_EQ(sim->withEngine([](sim::ControllerEngine& e) { return e.acknowledgeCount(); }), 1);
    EXPECT_EQ(simHolding(34), 0);
    EXPECT_TRUE(polling());
}

TEST_F(SettingsEndToEndTest, OlderFirmwareIsToldWithoutAnyTransaction) {
    for (auto [firmware, command, text] :
         {std::tuple{106, 40054, "Feature is not supported."},
          std::tuple{105, 40055, "Flow control is not supported."}}) {
        SCOPED_TRACE(command);
        start(firmware);
        window->timers().kill(5001);  // so that nothing else talks meanwhile
        QTest::qWait(50);
        const long before = sim->stats().requests;
        window->timers().arm(5001, 200);
        window->onCommand(command);
        EXPECT_EQ(sim->stats().requests, before);
        ASSERT_EQ(prompts.boxes.size(), 1u);
        EXPECT_EQ(prompts.boxes[0].text, text);
        EXPECT_EQ(prompts.boxes[0].title, "Notice");
        EXPECT_EQ(prompts.boxes[0].icon, BoxIcon::Warning);
        EXPECT_TRUE(window->timers().isArmed(5001));
        prompts.boxes.clear();
        window.reset();
        link.reset();
        sim->stop();
        fs::remove(dir / "COM5");
    }
}

// Before the controller has ever answered, the firmware version is not known: the commands
// that depend on it say that the viewer is not connected, rather than judging firmware 0.
TEST_F(SettingsEndToEndTest, CommandsNeedingTheFirmwareSayNotConnectedBeforeAnyGoodConnection) {
    // The cable is out at start-up: the connecting dialog gives up, nothing was ever read.
    launch(117, {}, [this] { sim->pullCable(600000); });
    ASSERT_EQ(window->controller().state().identity.version, 0);
    ASSERT_FALSE(window->timers().isArmed(5001));
    sim->pullCable(0);  // plugged in again, but no connection has been made
    prompts.boxes.clear();
    // A password dialog would mean that F6 went on.
    bool passwordAsked = false;
    const auto passwordWatch = closeWhenShown("112", passwordAsked);
    for (int command : {40055, 40054, 40042}) {
        SCOPED_TRACE(command);
        const long before = sim->stats().requests;
        window->onCommand(command);
        EXPECT_EQ(sim->stats().requests, before);  // nothing read for firmware 0
        ASSERT_EQ(prompts.boxes.size(), 1u);
        EXPECT_EQ(prompts.boxes[0].text, "Dravo Viewer is not connected to the system.");
        EXPECT_EQ(prompts.boxes[0].title, "Notice");
        EXPECT_EQ(prompts.boxes[0].icon, BoxIcon::Warning);
        EXPECT_TRUE(prompts.boxes[0].owned);
        prompts.boxes.clear();
    }
    EXPECT_FALSE(passwordAsked);

    // After a good Connect the firmware is known and the screens open.
    window->onCommand(40001);
    ASSERT_TRUE(polling());
    bool opened = false;
    whenModal("149", [&opened](QWidget& d) {
        opened = true;
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    window->onCommand(40055);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(prompts.boxes.empty());
}

// Comm Port with the cable out: the connection sequence runs without its dialog and gives up,
// leaving the port open and the firmware unknown. Upload must then neither read nor save a
// backup judged by firmware 0.
TEST_F(SettingsEndToEndTest, UploadBeforeTheFirmwareIsKnownSaysNotConnected) {
    launch(117, {}, [this] { sim->pullCable(600000); });
    ASSERT_EQ(window->controller().state().identity.version, 0);
    whenModal("108", [](QWidget& d) {
        whenModal("portProperties", [](QWidget& p) { static_cast<QDialog&>(p).reject(); });
        press(d, "1");
    });
    window->onCommand(40006);
    ASSERT_TRUE(window->timers().isArmed(5003));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->timers().isArmed(5003); }, 20000));
    ASSERT_EQ(window->controller().state().identity.version, 0);
    sim->pullCable(0);
    prompts.boxes.clear();
    // An upload dialog would mean that it went on.
    bool uploadOpened = false;
    const auto uploadWatch = closeWhenShown("115", uploadOpened);
    const long before = sim->stats().requests;
    window->onCommand(40044);
    EXPECT_EQ(sim->stats().requests, before);
    EXPECT_FALSE(uploadOpened);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Dravo Viewer is not connected to the system.");
    QTest::qWait(100);  // the Connect the upload posts afterwards, as it always does
}

TEST_F(SettingsEndToEndTest, EventLogShowsTheHistoryWhilePollingGoesOn) {
    start();
    const long requestsBefore = sim->stats().requests;
    std::vector<std::array<std::string, 3>> shown, expected;
    long ticksWhenOpen = -1, ticksBeforeClose = -1;
    bool escapeIgnored = false;
    whenModal("151", [&](QWidget& d) {
        const auto events = sim->withEngine([](sim::ControllerEngine& e) { return e.events(); });
        for (int n = 0; n < 10; ++n) {
            const auto text = [&d](int id) {
                return d.findChild<QLineEdit*>(QString::number(id))->text().toStdString();
            };
            shown.push_back({text(1054 + 3 * n), text(1055 + 3 * n), text(1056 + 3 * n)});
            const auto& ev = events.event(n);
            const sim::CalendarTime t = sim::calendarFromSeconds(ev.when);
            char date[32], time[32];
            std::snprintf(date, sizeof date, "%d/%d/%d", t.month, t.day, t.year % 100);
            std::snprintf(time, sizeof time, "%d:%d.%d", t.hour, t.minute, t.second * 8 / 60);
            expected.push_back({date, time, formatEventText(ev.word)});
        }
        ticksWhenOpen = window->controller().state().goodTicks;
        QTest::qWait(700);
        QTest::keyClick(&d, Qt::Key_Escape);
        d.close();
        escapeIgnored = d.isVisible();
        ticksBeforeClose = window->controller().state().goodTicks;
        QTest::keyClick(&d, Qt::Key_Return);  // Close is the default button
    });
    window->onCommand(40056);
    ASSERT_EQ(shown.size(), 10u);
    EXPECT_EQ(shown, expected);
    EXPECT_NE(shown[0][2], "");
    EXPECT_TRUE(escapeIgnored);
    EXPECT_GE(ticksBeforeClose, ticksWhenOpen + 2);  // the panel went on being fed
    EXPECT_GT(sim->stats().requests, requestsBefore + 2);
    EXPECT_TRUE(window->timers().isArmed(5001));
    EXPECT_TRUE(prompts.boxes.empty());

    const sim::FaultKind noReply[] = {sim::FaultKind::noReply};
    window->timers().kill(5001);
    sim->scriptFaults(noReply);
    window->timers().arm(5001, 200);
    window->onCommand(40056);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Communication Time-out.");
    EXPECT_EQ(prompts.boxes[0].title, "Notice");
    EXPECT_EQ(prompts.boxes[0].icon, BoxIcon::Warning);
    EXPECT_TRUE(prompts.boxes[0].owned);
    EXPECT_TRUE(window->timers().isArmed(5001));
}

TEST_F(SettingsEndToEndTest, CalibrationChangesReachTheControllerAndTheSlaveAddressMoves) {
    start();
    const int savesBefore = sim->withEngine([](sim::ControllerEngine& e) { return e.saveCount(); });
    int rows = 0;
    QString lastName, minusOneShown;
    bool nothingSent = false;
    const auto changeRow = [](QWidget& d, int row, const char* text) {
        auto* list = d.findChild<QTableWidget*>("1018");
        list->setCurrentCell(row, 0);
        auto* edit = d.findChild<QLineEdit*>("1020");
        edit->selectAll();
        QTest::keyClicks(edit, text);
        press(d, "1021");
    };
    answerPassword("5182", [&] {
        whenModal("111", [&](QWidget& d) {
            auto* list = d.findChild<QTableWidget*>("1018");
            rows = list->rowCount();
            lastName = list->item(rows - 1, 0)->text();
            // Polling is stopped, so any request now is the editor's.
            const long before = sim->stats().requests;
            list->setCurrentCell(62, 0);
            press(d, "1021");  // nothing typed: nothing sent
            nothingSent = sim->stats().requests == before;
            changeRow(d, 62, "-1");  // sibstit_load2
            minusOneShown = list->item(62, 1)->text();
            changeRow(d, 76, "1400");  // exhaust_temp_avg_shutdown_max
            changeRow(d, 3, "5");      // modbus_address
            press(d, "1");
        });
    });
    // The assistance box, then: write the new address into kvx_comm_config.dat.
    prompts.answers = {kAnswerOk, kAnswerYes};
    QTest::keyClick(window.get(), Qt::Key_F6);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows != 0; }, 10000));
    EXPECT_EQ(rows, 177);
    EXPECT_EQ(lastName, "spare1");
    EXPECT_TRUE(nothingSent);
    EXPECT_EQ(simHolding(63), -1);
    EXPECT_EQ(minusOneShown, "-1");
    ASSERT_TRUE(polling());
    EXPECT_EQ(simHolding(77), 1400);
    EXPECT_EQ(window->controller().state().ranges.exhaust_temp_avg_shutdown_max, 1400);
    // The controller took the new address; the save and everything after went there.
    EXPECT_EQ(sim->withEngine([](sim::ControllerEngine& e) { return e.slaveAddress(); }), 5);
    EXPECT_EQ(window->settings().slaveId, 5);
    EXPECT_EQ(sim->withEngine([](sim::ControllerEngine& e) { return e.saveCount(); }),
              savesBefore + 1);
    // The next start polls the new address: the file holds it.
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[1].buttons, BoxButtons::YesNoDefaultNo);
    EXPECT_EQ(fileBytes(dir / "kvx_comm_config.dat"), "COM5 5");

    // A save the controller does not answer: the command says so, then reconnects.
    const sim::FaultKind noReply[] = {sim::FaultKind::noReply};
    answerPassword("5182", [&] {
        whenModal("111", [&](QWidget& d) {
            sim->scriptFaults(noReply);
            press(d, "1");
        });
    });
    window->onCommand(40042);
    ASSERT_EQ(prompts.boxes.size(), 4u);
    EXPECT_EQ(prompts.boxes[3].text, "Failed to save system settings!");
    EXPECT_EQ(prompts.boxes[3].title, "Notice");
    EXPECT_EQ(prompts.boxes[3].icon, BoxIcon::None);
    EXPECT_FALSE(prompts.boxes[3].owned);
    EXPECT_TRUE(polling());
}

// The controller took the new address but its reply was lost: the editor finds it there, the
// save goes there, and the next start is offered the address (No unless the user says Yes).
TEST_F(SettingsEndToEndTest, ALostReplyToTheAddressWriteIsFollowedToTheNewAddress) {
    start();
    const int savesBefore = sim->withEngine([](sim::ControllerEngine& e) { return e.saveCount(); });
    QString status, shown;
    answerPassword("5182", [&] {
        whenModal("111", [&](QWidget& d) {
            auto* list = d.findChild<QTableWidget*>("1018");
            list->setCurrentCell(3, 0);
            auto* edit = d.findChild<QLineEdit*>("1020");
            edit->selectAll();
            QTest::keyClicks(edit, "9");
            sim->dropNextReply();  // polling is stopped: the next request is the write
            press(d, "1021");
            status = d.findChild<QWidget*>("1034")->property("text").toString();
            shown = list->item(3, 1)->text();
            press(d, "1");
        });
    });
    window->onCommand(40042);
    EXPECT_EQ(sim->faultsInjected(sim::FaultKind::noReply), 1);
    EXPECT_EQ(sim->withEngine([](sim::ControllerEngine& e) { return e.slaveAddress(); }), 9);
    EXPECT_NE(status.indexOf("the viewer now uses address 9"), -1) << status.toStdString();
    EXPECT_EQ(shown, "9");
    EXPECT_EQ(sim->withEngine([](sim::ControllerEngine& e) { return e.saveCount(); }),
              savesBefore + 1);
    ASSERT_EQ(prompts.boxes.size(), 2u);  // the assistance box, then the file's question
    EXPECT_EQ(prompts.boxes[1].buttons, BoxButtons::YesNoDefaultNo);
    EXPECT_EQ(prompts.boxes[1].title, "Notice");
    EXPECT_NE(prompts.boxes[1].text.find("kvx_comm_config.dat"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "kvx_comm_config.dat")) << "answered No by default";
    ASSERT_TRUE(polling());
    EXPECT_EQ(window->settings().slaveId, 9);
}

TEST_F(SettingsEndToEndTest, UploadWritesEveryParameterAndAFailureKeepsTheOldFile) {
    // Every row holds the controller's value where the controller gives it: before 1.06 it
    // has no register after 92, and the status line names the rows written as 0.
    for (auto [firmware, lines, version, unread] :
         {std::tuple{105, 116, "1.05", "93-114"}, std::tuple{110, 116, "1.1", ""},
          std::tuple{113, 153, "1.13", ""}, std::tuple{115, 176, "1.15", ""},
          std::tuple{117, 179, "1.17", ""}}) {
        SCOPED_TRACE(firmware);
        start(firmware);
        sim->withEngine([](sim::ControllerEngine& e) {
            const std::int16_t v = -1;
            return e.writeHolding(63, &v, 1, e.elapsedMs());
        });
        const fs::path file = dir / "unit7.csv";
        prompts.fileAnswers = {(dir / "unit7").string(), (file / "sub").string(), file.string()};
        QString statusAfterUpload, statusAfterBadPath, statusAfterFullDisk;
        whenModal("115", [&](QWidget& d) {
            press(d, "3");  // no file chosen yet
            press(d, "1");
            press(d, "3");
            statusAfterUpload = d.findChild<QWidget*>("1034")->property("text").toString();
            press(d, "1");
            press(d, "3");
            statusAfterBadPath = d.findChild<QWidget*>("1034")->property("text").toString();
            press(d, "1");
            {
                const ScopedFileSizeLimit limit(100);
                press(d, "3");
            }
            statusAfterFullDisk = d.findChild<QWidget*>("1034")->property("text").toString();
            press(d, "2");
        });
        window->onCommand(40044);
        if (*unread == '\0') {
            EXPECT_EQ(statusAfterUpload, "Valve settings have been successfully uploaded.");
        } else {
            EXPECT_TRUE(
                statusAfterUpload.startsWith("Valve settings have been successfully "
                                             "uploaded. Rows 93-114"))
                << statusAfterUpload.toStdString();
            EXPECT_TRUE(statusAfterUpload.contains("vibrat_load0 to left_bank_sa_address"))
                << statusAfterUpload.toStdString();
        }
        EXPECT_EQ(statusAfterBadPath, "Failed to write the settings file. (Not a directory)");
        EXPECT_EQ(statusAfterFullDisk.toStdString(),
                  "Failed to write the settings file. (File too large)");
        ASSERT_EQ(prompts.boxes.size(), 1u);
        EXPECT_EQ(prompts.boxes[0].text, "Please select existing file or create a new one.");
        EXPECT_EQ(prompts.boxes[0].title, "Notice");
        EXPECT_EQ(prompts.boxes[0].icon, BoxIcon::Warning);
        prompts.boxes.clear();
        ASSERT_EQ(prompts.fileDialogs.size(), 3u);
        const FileDialogRequest& r = prompts.fileDialogs[0].request;
        EXPECT_TRUE(prompts.fileDialogs[0].save);
        EXPECT_EQ(r.title, "Select Data File");
        ASSERT_EQ(r.filters.size(), 2u);
        EXPECT_EQ(r.filters[0].name, "CSV Files (*.csv)");
        EXPECT_EQ(r.filters[0].pattern, "*.csv");
        EXPECT_EQ(r.filters[1].name, "All Files (*.*)");
        EXPECT_EQ(r.filters[1].pattern, "*.*");
        EXPECT_EQ(r.initialDir, dir.string() + "/");
        EXPECT_EQ(r.initialName, "");

        std::string expected = "Dravo SN: 2417 ver. " + std::string(version) + "\r\n\r\n";
        const int read = firmware < 106 ? 92 : lines - 2;
        for (int i = 0; i < lines - 2; ++i)
            expected +=
                std::string(parameterNames[i]) + "," +
                std::to_string(i < read ? static_cast<std::uint16_t>(simHolding(i + 1)) : 0) +
                "\r\n";
        const std::string written = fileBytes(file);
        EXPECT_EQ(written, expected);
        EXPECT_NE(written.find("\r\nsibstit_load2,65535\r\n"), std::string::npos);
        for (const auto& e : fs::directory_iterator(dir))
            EXPECT_NE(e.path().filename().string().rfind("unit7.csv.", 0), 0u)
                << "a half-written file was left: " << e.path();
        EXPECT_TRUE(polling());

        {
            // The command-line backup of the same controller gives the same bytes.
            window.reset();
            link.reset();
            const fs::path probed = dir / "probed.csv";
            const std::string cmd = std::string(KVX_PROBE_PATH) + " --port " + sim->devicePath() +
                                    " --settings-csv " + probed.string() + " >/dev/null";
            EXPECT_EQ(std::system(cmd.c_str()), 0);
            EXPECT_EQ(fileBytes(probed), written);
        }
        prompts.fileDialogs.clear();
        window.reset();
        link.reset();
        sim->stop();
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
}

TEST_F(SettingsEndToEndTest, UploadTellsWhyItCannotReadAndConnectsInEveryCase) {
    start();
    // As after a failed reconnection: polling stopped, then a Connect that found no answer.
    window->timers().kill(5001);
    sim->pullCable(600000);
    window->controller().connect();
    sim->pullCable(0);
    ASSERT_FALSE(window->controller().state().connected);
    prompts.boxes.clear();  // the failed Connect's own box
    window->onCommand(40044);
    const sim::FaultKind noReply[] = {sim::FaultKind::noReply};
    ASSERT_TRUE(polling());
    sim->scriptFaults(noReply);
    window->onCommand(40044);
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[0].text, "Dravo Viewer is not connected to the system.");
    EXPECT_EQ(prompts.boxes[1].text, "Unable to read data.");
    for (const RecordedBox& b : prompts.boxes) {
        EXPECT_EQ(b.title, "Notice");
        EXPECT_EQ(b.icon, BoxIcon::Warning);
    }
    EXPECT_TRUE(prompts.fileDialogs.empty());
    EXPECT_TRUE(polling());
}

// The single-register writes on the line, as (reference, value), recorded by the simulator.
class WriteLog {
  public:
    sim::SimServer::ReplyHook hook() {
        return [this](const std::vector<std::uint8_t>& request, const std::vector<std::uint8_t>&,
                      sim::FaultKind) {
            if (request.size() < 6 || (request[1] != 6 && request[1] != 16)) return;
            const int reference = (request[2] << 8 | request[3]) + 1;
            const int value = request[1] == 6 ? (request[4] << 8 | request[5]) : -1;
            std::lock_guard lock(mutex_);
            writes_.emplace_back(reference, value);
        };
    }
    std::vector<std::pair<int, int>> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(writes_, {});
    }

  private:
    std::mutex mutex_;
    std::vector<std::pair<int, int>> writes_;
};

// Ten settings and the values the test gives them, against the simulator's factory values.
constexpr std::pair<int, std::int16_t> kTenChanges[] = {
    {41, 1500}, {52, 333},  {65, 310}, {77, 1333}, {97, 555},
    {104, 444}, {107, 250}, {130, 0},  {140, 99},  {174, 1111},
};

class RestoreEndToEndTest : public SettingsEndToEndTest {
  protected:
    // Uploads the controller's settings into dir/unit.csv through the Upload Data dialog.
    fs::path upload() {
        const fs::path file = dir / "unit.csv";
        prompts.fileAnswers = {file.string()};
        whenModal("115", [](QWidget& d) {
            press(d, "1");
            press(d, "3");
            press(d, "2");
        });
        window->onCommand(40044);
        EXPECT_TRUE(fs::exists(file));
        EXPECT_TRUE(polling());
        return file;
    }
    // Download Settings from file; inDialog runs on the restore dialog once it is up.
    // The watch for the dialog gives up after watchMs.
    void restore(const fs::path& file, std::function<void(QWidget&)> inDialog,
                 int watchMs = 20000) {
        prompts.fileAnswers = {file.string()};
        answerPassword("5182", [inDialog, watchMs] { whenModal("116", inDialog, watchMs); });
        window->onCommand(40045);
    }
    struct Row {
        int reference;
        bool checked;
        std::string controllerUnits, fileUnits;
    };
    static std::vector<Row> rows(QWidget& d) {
        std::vector<Row> out;
        auto* list = d.findChild<QTableWidget*>("1201");
        for (int r = 0; list && r < list->rowCount(); ++r) {
            out.push_back(
                {list->item(r, 1)->text().toInt(), list->item(r, 0)->checkState() == Qt::Checked,
                 list->item(r, 5)->text().toStdString(), list->item(r, 6)->text().toStdString()});
        }
        return out;
    }
    static std::string outcome(QWidget& d) {
        return d.findChild<QWidget*>("outcome")->property("plainText").toString().toStdString();
    }
    int saves() {
        return sim->withEngine([](sim::ControllerEngine& e) { return e.saveCount(); });
    }

    WriteLog writes;
};

TEST_F(RestoreEndToEndTest, TenChangesAreShownWrittenReadBackAndSavedAndNothingElseIsTouched) {
    start(117, writes.hook());
    const fs::path file = upload();
    std::map<int, std::int16_t> original;
    for (auto [reference, value] : kTenChanges)
        original[reference] = simHolding(reference);

    // The ten changed through the calibration editor, and saved.
    answerPassword("5182", [] {
        whenModal("111", [](QWidget& d) {
            auto* list = d.findChild<QTableWidget*>("1018");
            for (auto [reference, value] : kTenChanges) {
                list->setCurrentCell(reference - 1, 0);
                auto* edit = d.findChild<QLineEdit*>("1020");
                edit->selectAll();
                QTest::keyClicks(edit, QString::number(value));
                press(d, "1021");
            }
            press(d, "1");
        });
    });
    window->onCommand(40042);
    for (auto [reference, value] : kTenChanges)
        ASSERT_EQ(simHolding(reference), value) << reference;
    ASSERT_TRUE(polling());
    const int savesBefore = saves();
    const std::int16_t identity[] = {simHolding(1), simHolding(2), simHolding(3), simHolding(4)};
    writes.take();

    std::vector<Row> shown;
    std::string after;
    bool writeEnabled = false;
    prompts.answers = {kAnswerOk, kAnswerYes};  // the access code's box, then: save
    restore(file, [&](QWidget& d) {
        shown = rows(d);
        EXPECT_TRUE(writes.take().empty()) << "nothing is written before Write";
        press(d, "1");
        after = outcome(d);
        writeEnabled = d.findChild<QWidget*>("1")->isEnabled();
        press(d, "2");
    });
    // Every difference is a checked row, in units where a screen shows the register.
    ASSERT_EQ(shown.size(), std::size(kTenChanges));
    for (std::size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(shown[i].reference);
        EXPECT_EQ(shown[i].reference, kTenChanges[i].first);
        EXPECT_TRUE(shown[i].checked);
    }
    EXPECT_EQ(shown[0].controllerUnits, "150.0 kW");
    EXPECT_EQ(shown[0].fileUnits, "100.0 kW");
    EXPECT_EQ(shown[1].fileUnits, "2.800 in.W.C.");
    EXPECT_EQ(shown[3].controllerUnits, "1333 F");
    EXPECT_EQ(shown[4].controllerUnits, "0.555 in/s");
    EXPECT_EQ(shown[6].controllerUnits, "25.0 V");
    EXPECT_EQ(shown[7].fileUnits, "Enabled");
    EXPECT_EQ(shown[8].fileUnits, "");  // alarm_delay_timer: no unit to show
    EXPECT_EQ(shown[9].fileUnits, "1200 RPM");

    // On the line: the ten in reference order with the file's values, then the save command;
    // no identity, command, clock or slave-address register.
    std::vector<std::pair<int, int>> expected;
    for (auto [reference, value] : kTenChanges)
        expected.emplace_back(reference, static_cast<std::uint16_t>(original[reference]));
    expected.emplace_back(7, 0x1234);
    EXPECT_EQ(writes.take(), expected);
    EXPECT_NE(after.find("Written, 10 registers"), std::string::npos) << after;
    EXPECT_NE(after.find("every written register holds its value"), std::string::npos) << after;
    EXPECT_NE(after.find("Saved"), std::string::npos) << after;
    EXPECT_FALSE(writeEnabled);
    for (auto [reference, value] : kTenChanges)
        EXPECT_EQ(simHolding(reference), original[reference]) << reference;
    EXPECT_EQ(saves(), savesBefore + 1);
    EXPECT_EQ(
        std::vector<std::int16_t>({simHolding(1), simHolding(2), simHolding(3), simHolding(4)}),
        std::vector<std::int16_t>(std::begin(identity), std::end(identity)));
    EXPECT_TRUE(polling());

    // Compared again: nothing left to write.
    int rowsAgain = -1;
    bool writeAgain = true;
    restore(file, [&](QWidget& d) {
        rowsAgain = static_cast<int>(rows(d).size());
        writeAgain = d.findChild<QWidget*>("1")->isEnabled();
        press(d, "2");
    });
    EXPECT_EQ(rowsAgain, 0);
    EXPECT_FALSE(writeAgain);
    EXPECT_TRUE(writes.take().empty());
    EXPECT_TRUE(polling());
}

TEST_F(RestoreEndToEndTest, AWriteFailingHalfWaySaysWhatWasWrittenAndWhatNot) {
    start();
    const fs::path file = upload();
    std::map<int, std::int16_t> original;
    sim->withEngine([&](sim::ControllerEngine& e) {
        for (auto [reference, value] : kTenChanges) {
            original[reference] = e.holding(reference);
            e.writeHolding(reference, &value, 1, e.elapsedMs());
        }
        return 0;
    });
    const int savesBefore = saves();
    prompts.answers = {kAnswerOk, kAnswerYes};  // the access code's box; a save would be Yes
    std::string after;
    restore(file, [&](QWidget& d) {
        // The fifth write's reply is lost (the controller has taken it).
        const sim::FaultKind script[] = {sim::FaultKind::none, sim::FaultKind::none,
                                         sim::FaultKind::none, sim::FaultKind::none,
                                         sim::FaultKind::noReply};
        sim->scriptFaults(script);
        press(d, "1");
        after = outcome(d);
        press(d, "2");
    });
    EXPECT_EQ(after,
              "Writing vibrat_max0 failed (result 132); nothing after it was written. Read back, "
              "vibrat_max0 holds the file's value all the same.\n"
              "Written, 4 registers: load_sp0, pressure_sp1, substit_diesel_flow0, "
              "exhaust_temp_avg_shutdown_max.\n"
              "Not written, 6 registers: vibrat_max0, flow_setpoint, low_batt_limit, "
              "low_supply_press_email, alarm_delay_timer, min_substitution_rpm.\n"
              "Read back: every written register holds its value.\n"
              "Not saved: the restore did not complete, so the save command was not sent; the "
              "written settings last until the controller is switched off. A complete restore "
              "can save them.");
    for (std::size_t i = 0; i < std::size(kTenChanges); ++i) {
        const auto [reference, value] = kTenChanges[i];
        EXPECT_EQ(simHolding(reference), i < 5 ? original[reference] : value) << reference;
    }
    // No question: the access code's box is the only one.
    EXPECT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(saves(), savesBefore);
    EXPECT_TRUE(polling());
}

TEST_F(RestoreEndToEndTest, ABadFileOrAnotherFirmwareIsRefusedWithoutAWrite) {
    start(115, writes.hook());
    const fs::path file = upload();
    const auto edited = [&](const char* name, auto edit) {
        std::ifstream in(file, std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(in), {}};
        edit(text);
        std::ofstream(dir / name, std::ios::binary) << text;
        return dir / name;
    };
    const fs::path repeated = edited("repeated.csv", [](std::string& text) {
        text.replace(text.find("load_sp1,"), 9, "load_sp0,");
    });
    // The same controller's file under another firmware's header and rows.
    const fs::path other = edited("other.csv", [](std::string& text) {
        text.replace(text.find("ver. 1.15"), 9, "ver. 1.17");
        text.replace(text.find("version,115"), 11, "version,117");
        text += "high_press_cycles_max,0\r\nspare0,0\r\nspare1,0\r\n";
    });
    const std::pair<fs::path, std::string> cases[] = {
        {repeated, "line 44: load_sp0 repeated (first on line 43)"},
        {other, "The file was read from firmware 1.17; this controller runs firmware 1.15."},
        {dir / "missing.csv", "cannot open it: No such file or directory"},
    };
    bool opened = false;
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        prompts.boxes.clear();
        // The dialog would be up before the command returns; the watch for it gives up soon.
        restore(
            path,
            [&opened](QWidget& d) {
                opened = true;
                press(d, "2");
            },
            500);
        ASSERT_EQ(prompts.boxes.size(), 2u);  // the access code's box, then the refusal
        EXPECT_NE(prompts.boxes[1].text.find(reason), std::string::npos) << prompts.boxes[1].text;
        EXPECT_NE(prompts.boxes[1].text.find("Nothing was written."), std::string::npos);
        EXPECT_EQ(prompts.boxes[1].title, "Notice");
        EXPECT_EQ(prompts.boxes[1].icon, BoxIcon::Warning);
        EXPECT_TRUE(polling());
    }
    EXPECT_FALSE(opened);
    EXPECT_TRUE(writes.take().empty());
    QTest::qWait(600);  // until the last watch has given up, so that nothing of it is left
}

// A unit shown from the broker is read-only: every command that would write to a controller (or
// read one) says so in one box, opens nothing, and not a byte goes to the controller on the
// line; a good Connect to it then ends the remote view and polling resumes.
TEST_F(SettingsEndToEndTest, AUnitShownFromTheBrokerRefusesEveryControllerCommand) {
    WriteLog writes;
    start(117, writes.hook());
    ASSERT_NE(window->runStopWindow(), nullptr);
    window->showRemoteUnit({"north-7", 2417}, {"north-7", 2417, 117, 1, "1.0"});
    const long requests = sim->stats().requests;
    const int saves = sim->withEngine([](sim::ControllerEngine& e) { return e.saveCount(); });
    // Any dialog at all would be a fault: it is closed at once and named.
    std::vector<std::string> dialogs;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&dialogs] {
        if (QWidget* d = QApplication::activeModalWidget()) {
            dialogs.push_back(d->objectName().toStdString());
            QTest::keyClick(d, Qt::Key_Escape);
        }
    });
    watch.start(10);

    const std::string kBox = "This unit is shown from the broker: ";
    struct Case {
        int command;  // or a key
        int key;
        const char* says;
    };
    const Case cases[] = {
        {res::kCmdPressureSchedule, 0, "settings cannot be written"},
        {res::kCmdSubstitutionSchedule, 0, "settings cannot be written"},
        {res::kCmdTemperatureSettings, 0, "settings cannot be written"},
        {res::kCmdVibrationSettings, 0, "settings cannot be written"},
        {res::kCmdCalibrate, 0, "settings cannot be written"},
        {res::kCmdFlowControl, 0, "settings cannot be written"},
        {res::kCmdVibrationMaxSchedule, 0, "settings cannot be written"},
        {res::kCmdDownloadSettings, 0, "settings cannot be written"},
        {res::kCmdEmailMessaging, 0, "settings cannot be written"},
        {res::kCmdAlarmAcknowledgment, 0, "its alarm cannot be acknowledged"},
        {res::kCmdUploadSettings, 0, "its settings cannot be read"},
        {res::kCmdEventLog, 0, "its event log cannot be read"},
        {0, Qt::Key_F2, "settings cannot be written"},
        {0, Qt::Key_F4, "settings cannot be written"},
        {0, Qt::Key_F6, "settings cannot be written"},
        {0, Qt::Key_F8, "settings cannot be written"},
        {-1, 0, "it cannot be stopped or started"},  // the run/stop button
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command ? c.command : c.key);
        prompts.boxes.clear();
        if (c.command > 0)
            window->onCommand(c.command);
        else if (c.key)
            QTest::keyClick(window.get(), static_cast<Qt::Key>(c.key));
        else
            window->runStopWindow()->button()->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.boxes.empty(); }, 2000));
        QTest::qWait(50);
        ASSERT_EQ(prompts.boxes.size(), 1u);
        EXPECT_EQ(prompts.boxes[0].text.rfind(kBox + c.says + " from here.", 0), 0u)
            << prompts.boxes[0].text;
        EXPECT_TRUE(window->panelFeed().remote());
    }
    QTest::qWait(600);  // a poll or a reconnect would have come by now
    EXPECT_TRUE(dialogs.empty()) << dialogs.front();
    EXPECT_EQ(sim->stats().requests, requests);
    EXPECT_TRUE(writes.take().empty());
    EXPECT_EQ(sim->withEngine([](sim::ControllerEngine& e) { return e.saveCount(); }), saves);
    EXPECT_FALSE(window->timers().isArmed(5001));

    window->onCommand(res::kCmdConnect);
    EXPECT_FALSE(window->panelFeed().remote());
    EXPECT_TRUE(polling());
    EXPECT_TRUE(writes.take().empty());
}

}  // namespace
}  // namespace kvx::test
