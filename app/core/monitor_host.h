#pragma once
// What the connection logic asks of the window it runs in: timers, repaints, posted commands
// and the small windows around it.
#include <string>

namespace kvx {

// Timer ids of the main window. 5002, 5005 and 5006 of the original window had no work and
// are not used.
inline constexpr int kTimerPoll = 5001;
inline constexpr int kTimerSequence = 5003;
inline constexpr int kTimerLogClock = 5004;
// The next try of a failed connection, when the viewer reconnects by itself.
inline constexpr int kTimerReconnect = 5010;

class MonitorHost {
  public:
    virtual ~MonitorHost() = default;
    virtual void armTimer(int id, int ms) = 0;
    virtual void killTimer(int id) = 0;
    virtual void setTitle(const std::string& title) = 0;
    // Repaints the panel (and with it the status bar) at the next chance.
    virtual void invalidatePanel() = 0;
    // Shows the current state in the status bar without repainting the panel (the platform
    // repaints what a closed message box uncovered; here nothing would).
    virtual void refreshStatusBar() = 0;
    // Queued: runs after the current handler has returned.
    virtual void postCommand(int id) = 0;
    virtual void postOpenLogFile(int requestKind) = 0;
    // Ends the connecting dialog when it is open.
    virtual void closeConnectingDialog() = 0;
    // Creates the run/stop window, or places the existing one again.
    virtual void createRunStopWindow() = 0;
    virtual bool hasRunStopWindow() const = 0;
    virtual void invalidateRunStopWindow() = 0;
    virtual void activateMainWindow() = 0;
    // What the lines on standard error start with: the program they come from.
    virtual const char* programName() const { return "orvik-kvx"; }
};

// A host with no window, for programs without one (a headless poller, a benchmark): every
// request is taken and nothing is shown. A program derives from it to note what it needs.
class NullMonitorHost : public MonitorHost {
  public:
    void armTimer(int, int) override {}
    void killTimer(int) override {}
    void setTitle(const std::string&) override {}
    void invalidatePanel() override {}
    void refreshStatusBar() override {}
    void postCommand(int) override {}
    void postOpenLogFile(int) override {}
    void closeConnectingDialog() override {}
    void createRunStopWindow() override {}
    bool hasRunStopWindow() const override { return false; }
    void invalidateRunStopWindow() override {}
    void activateMainWindow() override {}
};

}  // namespace kvx
