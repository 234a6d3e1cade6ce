// Tools -> Service Report on the real window against the simulated controller: the dialog's
// refusals, the controller read with polling stopped and restarted, the PDF read back as text,
// and an existing report replaced only when the user says Yes.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/main_window.h"
#include "app/settings_commands.h"
#include "link/rtu_device_link.h"
#include "log/log_writer.h"
#include "model/registers.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"
#include "sim/sim_server.h"
#include "tests/log/log_test_support.h"
#include "ui/scripted_prompts.h"
#include "window_harness.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

std::string pdfText(const fs::path& pdf) {
    const std::string command = std::string(PDFTOTEXT_PATH) + " -layout '" + pdf.string() + "' -";
    std::string text;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            text.append(buf, n);
        ::pclose(p);
    }
    std::string squeezed;  // runs of spaces as one: -layout spaces columns by the page
    for (const char ch : text)
        if (ch != ' ' || squeezed.empty() || squeezed.back() != ' ') squeezed += ch;
    return squeezed;
}

class ServiceReportTest : public ::testing::Test {
  protected:
    ServiceReportTest() : dir(freshTestDir("kvx_service_report_")) {
        setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    }
    ~ServiceReportTest() override {
        window.reset();
        link.reset();
        if (sim) sim->stop();
        fs::remove_all(dir);
    }
    void start() {
        sim = std::make_unique<sim::SimServer>(sim::EngineConfig{});
        sim->setReplyHook([this](const std::vector<std::uint8_t>& request,
                                 const std::vector<std::uint8_t>&, sim::FaultKind) {
            if (request.size() < 6) return;
            std::lock_guard<std::mutex> lock(mutex);
            requests.push_back({request[1], request[2] << 8 | request[3]});
        });
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
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->timers().isArmed(5001); }, 5000));
    }
    std::int16_t simHolding(int ref) {
        return sim->withEngine([ref](sim::ControllerEngine& e) { return e.holding(ref); });
    }
    // Fills the dialog when it comes up and presses Write Report.
    void answerDialog(const fs::path& backup, const fs::path& out, const QString& notes) {
        whenModal("serviceReport", [=](QWidget& d) {
            typeInto(d, "backup", QString::fromStdString(backup.string()));
            typeInto(d, "output", QString::fromStdString(out.string()));
            d.findChild<QPlainTextEdit*>("notes")->setPlainText(notes);
            press(d, "ok");
        });
    }

    fs::path dir;
    std::unique_ptr<sim::SimServer> sim;
    std::unique_ptr<RtuDeviceLink> link;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
    std::mutex mutex;
    std::vector<std::array<int, 2>> requests;  // function code, first address
};

TEST_F(ServiceReportTest, ReadsTheControllerWithPollingStoppedAndWritesEverySection) {
    start();
    // A backup from before the visit: the controller's settings with the battery limit lower.
    SettingsImage image{};
    for (int ref = 1; ref <= kParameterCount; ++ref)
        image[static_cast<std::size_t>(ref - 1)] = simHolding(ref);
    image[106] = static_cast<std::int16_t>(image[106] - 10);  // low_batt_limit, tenths of a V
    const fs::path backup = dir / "before.csv", out = dir / "report.pdf";
    std::ofstream(backup, std::ios::binary) << settingsFileText(image, image[1]);

    {
        std::lock_guard<std::mutex> lock(mutex);
        requests.clear();
    }
    answerDialog(backup, out, "Found the gas valve sticking.\nCleaned it.");
    window->onCommand(res::kCmdServiceReport);
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_EQ(prompts.boxes.back().text, "The service report was written to " + out.string() + ".");
    EXPECT_EQ(prompts.boxes.back().icon, BoxIcon::Information);
    EXPECT_TRUE(window->timers().isArmed(5001));  // polling back

    // No poll came between the report's first settings read and its event log read.
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto first = std::find_if(requests.begin(), requests.end(),
                                        [](const auto& r) { return r[0] == 3 && r[1] == 0; });
        const auto events = std::find_if(first, requests.end(),
                                         [](const auto& r) { return r[0] == 4 && r[1] == 200; });
        ASSERT_NE(first, requests.end());
        ASSERT_NE(events, requests.end());
        EXPECT_EQ(std::count_if(first, events, [](const auto& r) { return r[0] == 4; }), 0);
    }

    const std::string t = pdfText(out);
    const std::string serial =
        std::to_string(static_cast<std::uint16_t>(simHolding(ref::serial_number)));
    for (const std::string& expected :
         {std::string("Service Report"), "Serial number " + serial, std::string("Firmware version"),
          std::string("controller at slave address 1"), std::string("The panel as it was at"),
          std::string("Settings changed"), std::string("107 low_batt_limit"),
          std::string("Event log"), std::string("Found the gas valve sticking."),
          std::string("Cleaned it.")})
        EXPECT_NE(t.find(expected), std::string::npos) << expected << "\n" << t;

    // Again under the same name: the question defaults to No, and No keeps the old report.
    const auto before = fs::last_write_time(out);
    const std::size_t boxes = prompts.boxes.size();
    answerDialog(backup, out, "Second visit.");
    window->onCommand(res::kCmdServiceReport);
    ASSERT_EQ(prompts.boxes.size(), boxes + 1);
    EXPECT_EQ(prompts.boxes.back().buttons, BoxButtons::YesNoDefaultNo);
    EXPECT_EQ(fs::last_write_time(out), before);
    EXPECT_EQ(pdfText(out).find("Second visit."), std::string::npos);
    EXPECT_TRUE(window->timers().isArmed(5001));
}

TEST_F(ServiceReportTest, TheDialogRefusesWhatIsNotATimeOrAFile) {
    start();
    QString status;
    bool stillOpen = false;
    whenModal("serviceReport", [&](QWidget& d) {
        typeInto(d, "from", "yesterday");
        typeInto(d, "output", QString::fromStdString((dir / "r.pdf").string()));
        press(d, "ok");
        status = d.findChild<QLabel*>("status")->text();
        stillOpen = d.isVisible();
        typeInto(d, "from", "");
        typeInto(d, "output", "");
        press(d, "ok");
        status += "|" + d.findChild<QLabel*>("status")->text();
        press(d, "cancel");
    });
    window->onCommand(res::kCmdServiceReport);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(status,
              "Visit from: \"yesterday\" is not a time: write YYYY-MM-DD HH:MM.|Choose "
              "the report's file.");
    EXPECT_FALSE(fs::exists(dir / "r.pdf"));
    EXPECT_TRUE(prompts.boxes.empty());
    // Cancel read nothing from the controller beyond the polls.
    EXPECT_TRUE(window->timers().isArmed(5001));

    // A garbled backup is refused by name before anything is read.
    std::ofstream(dir / "bad.csv") << "not a settings file";
    answerDialog(dir / "bad.csv", dir / "r.pdf", "");
    window->onCommand(res::kCmdServiceReport);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_NE(prompts.boxes[0].text.find("bad.csv"), std::string::npos) << prompts.boxes[0].text;
    EXPECT_FALSE(fs::exists(dir / "r.pdf"));
}

// The report's panel is of the bank the window shows.
TEST_F(ServiceReportTest, ThePanelIsOfTheBankTheWindowShows) {
    start();
    window->onCommand(res::kCmdRightBank);
    const fs::path out = dir / "right.pdf";
    answerDialog(fs::path(), out, "");
    window->onCommand(res::kCmdServiceReport);
    ASSERT_FALSE(prompts.boxes.empty());
    ASSERT_EQ(prompts.boxes.back().icon, BoxIcon::Information) << prompts.boxes.back().text;
    const std::string t = pdfText(out);
    EXPECT_NE(t.find("Mode (right bank)"), std::string::npos) << t;
    EXPECT_EQ(t.find("Mode (left bank)"), std::string::npos) << t;
}

// The visit's logs are summarised on a worker behind a progress dialog with Cancel while the
// window goes on polling. Cancel writes nothing and reads nothing from the controller; a build
// let run puts the overview in the report.
TEST_F(ServiceReportTest, TheLogsAreSummarisedInTheBackgroundAndCanBeCancelled) {
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    start();
    fs::create_directories(dir / "logs");
    for (int hour = 13; hour <= 14; ++hour) {
        LogWriter writer((dir / "logs").string(), [hour] { return at(2014, 5, 24, hour); });
        writer.openLogFile(LogWriter::kRequestHeader, 117);
        const std::int64_t first = utc(2014, 5, 24, hour - 2, 0, 0);
        for (int n = 0; n < 3600; n += 10) {
            LiveData live;
            live.engine_speed = static_cast<int>(1500 + 300 * std::sin(n * 0.002));
            writer.appendLogRecord(LogRecord::fromLiveData(first + n, live));
        }
        writer.closeLogFile();
    }
    const auto polls = [this] {
        std::lock_guard<std::mutex> lock(mutex);
        return std::count_if(requests.begin(), requests.end(),
                             [](const auto& r) { return r[0] == 4; });
    };
    const auto settingsReads = [this] {
        std::lock_guard<std::mutex> lock(mutex);
        return std::count_if(requests.begin(), requests.end(),
                             [](const auto& r) { return r[0] == 3 && r[1] == 0; });
    };
    const auto answer = [&](const fs::path& out) {
        whenModal("serviceReport", [this, out](QWidget& d) {
            typeInto(d, "logs", QString::fromStdString((dir / "logs").string()));
            typeInto(d, "output", QString::fromStdString(out.string()));
            press(d, "ok");
        });
    };
    // The worker waits after the first file until the test has looked (for a bounded while, so
    // a build on the GUI thread cannot hang the test).
    std::atomic<bool> release{false};
    window->settingsCommands().setReportBuildHook([&](std::size_t) {
        for (int i = 0; i < 3000 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    const long readsBefore = settingsReads();
    const fs::path cancelled = dir / "cancelled.pdf";
    answer(cancelled);
    bool shown = false, polledMeanwhile = false;
    QString button;
    whenModal("serviceReportProgress", [&](QWidget& d) {
        shown = true;
        const long before = polls();
        polledMeanwhile = QTest::qWaitFor([&] { return polls() > before; }, 5000);
        if (auto* cancel = d.findChild<QPushButton*>()) {
            button = cancel->text();
            cancel->click();
        }
        release = true;
    });
    window->onCommand(res::kCmdServiceReport);
    release = true;
    EXPECT_TRUE(shown);
    EXPECT_TRUE(polledMeanwhile);
    EXPECT_EQ(button, "Cancel");
    EXPECT_FALSE(fs::exists(cancelled));
    EXPECT_TRUE(prompts.boxes.empty());  // a cancel is no error
    EXPECT_EQ(settingsReads(), readsBefore);
    EXPECT_TRUE(window->timers().isArmed(5001));

    const fs::path out = dir / "report.pdf";
    answer(out);
    window->onCommand(res::kCmdServiceReport);
    ASSERT_FALSE(prompts.boxes.empty());
    ASSERT_EQ(prompts.boxes.back().icon, BoxIcon::Information) << prompts.boxes.back().text;
    const std::string t = pdfText(out);
    EXPECT_NE(t.find("Overview of the visit"), std::string::npos) << t;
    EXPECT_NE(t.find("engine_speed (RPM)"), std::string::npos) << t;
    EXPECT_TRUE(window->timers().isArmed(5001));
}

}  // namespace
}  // namespace kvx::test
