// The settings commands on the real window against the simulated controller: each command
// opens its screen, typed values reach the controller and survive the save and the reconnect,
// failures leave polling as the command says.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <memory>

#include "app/main_window.h"
#include "link/rtu_device_link.h"
#include "resources/resource_ids.h"
#include "sim/sim_server.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReceiving = "Communication Status: Receiving data";

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
    void start(int firmware = 117) {
        sim::EngineConfig config;
        config.firmware = firmware;
        sim = std::make_unique<sim::SimServer>(config);
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
        window->startUp();
        ASSERT_TRUE(polling());
    }
    bool polling(int ms = 5000) {
        return QTest::qWaitFor(
            [&] { return window->statusPart(3) == kReceiving && window->timers().isArmed(5001); },
            ms);
    }
    std::int16_t simHolding(int ref) {
        return sim->withEngine([ref](sim::ControllerEngine& e) { return e.holding(ref); });
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
    EXPECT_EQ(window->controller().ranges.exhaust_temp_avg_shutdown_max, 1300);
    ASSERT_TRUE(polling());
    EXPECT_EQ(sim->withEngine([](sim::ControllerEngine& e) { return e.saveCount(); }),
              savesBefore + 1);
    EXPECT_EQ(simHolding(77), 1300);
    EXPECT_EQ(window->controller().ranges.exhaust_temp_avg_shutdown_max, 1300);

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

}  // namespace
}  // namespace kvx::test
