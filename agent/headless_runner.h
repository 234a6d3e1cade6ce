#pragma once
// The window's poll cycle without a window: the same MonitorController, driven in the order the
// main window drives it (creation, the configuration, the port opened at start-up, the
// connecting dialog's give-up, the connection sequence, poll and log-clock timers, posted
// Connect and open-log requests), from a small timer loop of its own. Automatic reconnection is
// always on: nobody is there to answer a box, so every failure goes to standard error (the
// journal under systemd) and is tried again after a growing pause, for as long as it takes.
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/core/monitor_clock.h"
#include "app/core/monitor_controller.h"
#include "app/core/monitor_host.h"
#include "app/core/panel_feed.h"
#include "app/core/program_settings.h"
#include "link/device_link.h"
#include "log/log_writer.h"
#include "ui/prompts.h"

namespace kvx::agent {

// No one to ask: a box is written to standard error with the answer its path takes without a
// person (OK, or No for a question), and nothing waits.
class LoggedPrompts final : public Prompts {
  public:
    int messageBox(const std::string& text, const std::string& title, BoxIcon icon,
                   BoxButtons buttons, bool ownedByMainWindow) override;
    std::string openFileName(const FileDialogRequest&) override { return {}; }
    std::string saveFileName(const FileDialogRequest&) override { return {}; }
    int boxes = 0;
};

struct RunnerParams {
    ProgramSettings settings;  // reconnectAutomatically is forced on
    std::string logFolder;
    std::string programDir;  // where COMn names are looked up
    int replyTimeoutMs = 3000;
    DeviceLink* link = nullptr;  // held by the caller for the whole run
    MonitorClock clock = systemMonitorClock();
    LocalClock logClock = currentLocalDateTime;
};

class HeadlessRunner final : private MonitorHost {
  public:
    // The connecting dialog's tick and give-up, as the window's dialog counts them.
    static constexpr int kConnectingTickMs = 10;
    static constexpr int kConnectingGiveUpTicks = 300;

    explicit HeadlessRunner(RunnerParams params);
    ~HeadlessRunner() override;

    // The window's creation and start-up: the controller's creation step, the speed scale,
    // the port opened with the reply time-out, then the connecting wait while the connection
    // sequence runs (in the loop).
    void startUp();
    // Runs posted commands and due timers, then waits for the next due timer, at most maxWaitMs,
    // through the wait function (a sleep unless set). Returns after one round.
    void runOnce(int maxWaitMs);
    // The clean end: timers stopped, port closed, log file closed (flushed to disk).
    void shutDown();

    // Waits up to ms milliseconds; the agent's MQTT client runs its network here.
    void setWait(std::function<void(int ms)> wait) { wait_ = std::move(wait); }

    MonitorController& controller() { return *controller_; }
    const MonitorController& controller() const { return *controller_; }
    LogWriter& logWriter() { return log_; }
    const PanelFeed& feed() const { return feed_; }
    const ProgramSettings& settings() const { return settings_; }
    bool connecting() const { return connecting_; }
    int boxesShown() const { return prompts_.boxes; }
    bool timerArmed(int id) const { return timers_.count(id) != 0; }

  private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        int periodMs = 0;
        Clock::time_point due;
    };
    // The connecting dialog's tick has an id no window timer uses.
    static constexpr int kTimerConnecting = -1;

    // MonitorHost
    void armTimer(int id, int ms) override;
    void killTimer(int id) override;
    void setTitle(const std::string& title) override;
    void invalidatePanel() override {}
    void refreshStatusBar() override {}
    void postCommand(int id) override;
    void postOpenLogFile(int requestKind) override;
    void closeConnectingDialog() override;
    void createRunStopWindow() override {}
    bool hasRunStopWindow() const override { return false; }
    void invalidateRunStopWindow() override {}
    void activateMainWindow() override {}
    const char* programName() const override { return "kvx-agent"; }

    void onTimer(int id);
    void connectingTick();
    void runPosted();

    RunnerParams params_;
    ProgramSettings settings_;
    LogWriter log_;
    PanelFeed feed_;
    LoggedPrompts prompts_;
    std::unique_ptr<MonitorController> controller_;
    std::map<int, Timer> timers_;
    std::deque<std::function<void()>> posted_;
    std::function<void(int)> wait_;
    bool connecting_ = false;
    int connectingTicks_ = 0;
    std::string title_;
};

}  // namespace kvx::agent
