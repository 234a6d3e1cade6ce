#pragma once
// The monitoring window's connection logic without the window: start-up's port opening, the
// connection sequence, the poll tick with its failure counting, Connect and Disconnect, the log
// clock, the run/stop button and the status-bar texts. Everything runs on the UI thread; the
// window calls in from its timers and commands.
#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "app/core/monitor_clock.h"
#include "app/core/monitor_host.h"
#include "app/core/panel_feed.h"
#include "app/core/program_settings.h"
#include "app/core/reconnect_backoff.h"
#include "link/device_link.h"
#include "log/log_writer.h"
#include "model/live_data.h"
#include "ui/prompts.h"

namespace kvx {

// What the poll did this run, for the line printed on the way out.
struct PollCounts {
    long polls = 0;
    long goodTicks = 0;
    std::map<int, long> badTicks;  // by the result code of the failed read
    long recordsHanded = 0;        // good ticks given to an open log file
    long recordsLost = 0;          // of those, never written (filled in at shutdown)
    long notLogged = 0;            // good ticks while no log file was open

    long badTickCount() const;
    // "polls 1500, good ticks 1490, bad ticks 10 (132: 8, 129: 2), records logged 1490,
    // records lost 0, good ticks without a log file 0"
    std::string line() const;
};

// The four status-bar parts after a repaint.
struct StatusTexts {
    std::array<std::string, 4> parts;
};

// What the controller knows of the connection and the device. The decoded record is not here:
// it is the panel's feed, which the window owns and the log player fills too.
struct MonitorState {
    bool connected = false;
    int commStatus = -1;
    int consecutiveFailures = -1;
    int sequenceAttempts = 0;
    int sequenceSuccesses = 0;
    int readyShown = 0;  // 1 while the run/stop window was last told READY
    long goodTicks = 0;  // poll ticks this run whose reads all succeeded
    PollCounts counts;

    // Device data, kept for the whole run.
    DeviceIdentity identity;
    // identity holds the controller's answer to the last identity read; false before any
    // answer and after a failed read, which leaves it zero.
    bool identityRead = false;
    int serialNumber = 0;
    InputImage image;
    LiveStatus status;
    DisplayRanges ranges;
};

class MonitorController {
  public:
    // Ticks of one connection sequence after which a failing read gives up.
    static constexpr int kSequenceGiveUp = 20;
    static constexpr int kSequenceGoodReads = 9;
    static constexpr int kBadTicksToReconnect = 6;
    static constexpr int kPollMs = 200;
    static constexpr int kLogClockMs = 200;
    static constexpr int kSequenceMs = 200;
    static constexpr int kSequenceAfterCommPortMs = 500;
    // Failed Connects are counted up to here and no further.
    static constexpr int kCommStatusCountLimit = 1000000;

    // Polling fills feed's record; Playback and a good Connect switch its mode.
    MonitorController(DeviceLink& link, LogWriter& log, Prompts& prompts, MonitorHost& host,
                      ProgramSettings& settings, PanelFeed& feed, MonitorClock clock);

    // Window creation: log clock reference, vibration -1, the connection-sequence timer.
    void onCreate();
    // Start-up's port opening: reply time-out, then the port. True when it opened (connected
    // is then set and the connecting dialog should run); else the box has been shown.
    bool openPortAtStartUp(int replyTimeoutMs);
    // The connecting dialog was cancelled (by the user or by its own give-up).
    void connectingCancelled();
    // The connecting dialog gave up by itself (no controller answered in its time). True when
    // the failure went to the status line and a new try is planned, so no box is to be shown.
    bool connectingGaveUp();
    // The scaling file or dialog changed the speed range.
    void applySpeedRange();

    void connectSequenceTick();
    void pollTick();
    void logClockTick();
    // A posted open-log request: the current file is closed and the next record opens the
    // file of its hour, so that no file is made where no record follows.
    void openLogFile(int requestKind);
    void connect();
    void disconnect();
    // Comm Port after its dialog's OK: reopens the port with the new name and writes the
    // communication file. Returns the open result for commPortFinish.
    int commPortReopen(const std::string& programDir);
    // After the port-properties dialog: restart the connection sequence, or say why not.
    void commPortFinish(int openResult);
    // Stop: poll timer killed.
    void stopPolling();
    // The Playback command before its dialog: the feed in playback mode, Disconnect posted,
    // polling stopped, the log file closed, status "Playback Mode". Only a good Connect ends it.
    void enterPlayback();
    // Open Unit from Broker, once a unit is chosen: the feed shows that unit's records from the
    // broker. Like Playback it stops polling, the connection sequence and any planned new try,
    // closes the log file and the port, and only a good Connect ends it. The panel starts from
    // an empty record and the unit's name (site/serial) is on the status line.
    void enterRemote(const std::string& unit);
    // What the status line's last part says about the remote unit (its name and state).
    void setRemoteNote(std::string note);
    // Ends the remote view without a connection (Comm Port chose the serial line).
    void leaveRemote();
    // The run/stop button's write; never while a remote unit is shown (nothing is written).
    void runStopClicked();
    // With automatic reconnection, the planned next try of a failed connection: the connection
    // sequence again when none has finished yet, else Connect.
    void reconnectTick();
    // The user took over (Disconnect, Playback, Comm Port): no further try is planned.
    void cancelReconnect();
    // Close and Exit: timers killed in their order, port closed, log file closed.
    void shutdown();

    StatusTexts statusTexts() const;
    bool ready() const;

    // The controller's state, to read; only the controller writes it.
    const MonitorState& state() const { return state_; }
    // A settings screen changed what the panel's scales are drawn from: the panel follows the
    // values the controller now holds until the next connection sequence reads them again.
    void followRanges(const DisplayRanges& ranges);

  private:
    // Tests only: puts the controller in a state its API reaches only after very many steps
    // (a failed-Connect count near its limit). Defined by the tests.
    friend struct MonitorControllerTestAccess;

    void showBox(const char* text, const char* title, BoxIcon icon, bool owned);
    // A failed connection: a box for the user, or with automatic reconnection the text on the
    // status line and a new try planned after a growing pause.
    void connectionFailed(const char* text, const char* title, BoxIcon icon, bool owned);
    void connectionRestored();
    // A box text followed by the link's reason for the failed open, when it gives one.
    std::string withOpenReason(const char* text) const;
    std::string openFailedText() const;
    void restartSequence();
    void openLogFileForRecord();

    DeviceLink& link_;
    LogWriter& log_;
    Prompts& prompts_;
    MonitorHost& host_;
    ProgramSettings& settings_;
    PanelFeed& feed_;
    MonitorClock clock_;
    MonitorState state_;
    bool headerRequested_ = true;  // the log clock's once-a-run header request is yet to come
    LocalTimeMs previousLocalTime_;
    // The shutoffs the run/stop window was last drawn for.
    int previousLocalShutoff_ = 0;
    int previousExtShutoff_ = -1;
    bool countsReported_ = false;
    ReconnectBackoff backoff_;
    std::string retryNote_;   // on the status line while a new try is planned
    std::string remoteUnit_;  // the unit shown from the broker
    std::string remoteNote_;
    bool sequenceFinished_ = false;  // the connection sequence has read the ranges once
    // The request the next opened log file serves; -1 before the first request of the run.
    int pendingLogRequest_ = -1;
    bool logHeaderServed_ = false;  // a file was opened for the once-a-run header request
};

}  // namespace kvx
