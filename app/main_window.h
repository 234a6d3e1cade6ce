#pragma once
// The monitoring window: menu 104, the instrument panel, the four-part status bar, the timer
// table, the command dispatch and the small windows around them. The connection logic itself
// is MonitorController.
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/connecting_dialog.h"
#include "app/core/monitor_clock.h"
#include "app/core/monitor_controller.h"
#include "app/core/monitor_host.h"
#include "app/core/panel_feed.h"
#include "app/core/program_settings.h"
#include "app/core/window_layout.h"
#include "app/open_off_thread_link.h"
#include "app/port_properties_dialog.h"
#include "app/run_stop_window.h"
#include "app/timer_table.h"
#include "overview/trend_chart_feed.h"
#include "display/panel.h"
#include "fleet/payloads.h"
#include "fleet/topics.h"
#include "link/device_link.h"
#include "log/log_clock.h"
#include "log/log_player.h"
#include "log/log_writer.h"
#include "ui/prompts.h"

class QAction;
class QLabel;

namespace kvx {

class LogOverviewWindow;
class TrafficWindow;
class PanelView;
class LayeredQtSurface;
class SettingsCommands;
class BrokerSession;
class RemoteUnitFeed;

// One command of the window: its menu item, its key and what it does. The menu, the keys and
// the dispatch are all built from one table of these.
struct CommandEntry {
    const char* menu;     // menu path ("Action/Log File"); null for a key of its own
    int id;               // command id; 0 for a key of its own
    const char* caption;  // menu text
    int key;              // Qt key that posts the command (0: none)
    std::function<bool()> enabled;
    std::function<void()> run;  // empty: the item exists but does nothing yet
    bool checkable = false;
};

struct WindowParams {
    std::string programDir;      // with a trailing '/'
    DeviceLink* link = nullptr;  // held by the program for the whole run
    Prompts* prompts = nullptr;
    int replyTimeoutMs = 3000;  // what start-up gives the device link
    MonitorClock clock = systemMonitorClock();
    LocalClock logClock = currentLocalDateTime;
    // Exit: ends the process at once, after the port and every file have been closed.
    std::function<void(int code)> terminate;
};

class MainWindow : public QMainWindow, private MonitorHost {
    Q_OBJECT
  public:
    // How often a command or a close that came during a network open looks again.
    static constexpr int kWhileOpeningMs = 50;

    explicit MainWindow(WindowParams params);
    ~MainWindow() override;

    // Start-up after creation: program directory, shown maximised, configuration files, port,
    // and the connecting dialog while the connection sequence runs. Returns when it has ended.
    void startUp();
    // Runs a command as the menu would (after anything already posted).
    void postCommand(int id) override;
    void onCommand(int id);
    // The clean end of --quit-after: timers stopped, port and log file closed.
    void shutDown();

    MonitorController& controller() { return controller_; }
    const PanelFeed& panelFeed() const { return feed_; }
    const ProgramSettings& settings() const { return settings_; }
    Panel& panel() { return panel_; }
    LogWriter& logWriter() { return log_; }
    LogPlayer& player() { return player_; }
    TimerTable& timers() { return timers_; }
    SettingsCommands& settingsCommands() { return *settingsCommands_; }
    bool zoomed() const { return zoomed_; }
    int selectedBank() const { return selectedBank_; }
    QString statusPart(int i) const;
    int statusPartWidth(int i) const;
    QAction* action(int id) const;
    RunStopWindow* runStopWindow() const { return runStop_; }
    ConnectingDialog* connectingDialog() const { return connecting_; }
    PanelView* panelView() const { return view_; }
    // Pictures of the panel composed so far.
    int paintCount() const { return paints_; }
    // What the next paint shows.
    PanelInputs panelInputs() const;

    // Shows unit from the broker at url (Open Unit from Broker after its dialog): read-only,
    // polling and logging stopped, until a good Connect. False, with a box saying why, when
    // the broker cannot even be tried (the URL, the credentials file).
    bool openRemoteUnit(const std::string& url, const fleet::UnitId& unit,
                        const fleet::IdentityMessage& identity);
    // Tests: the same without a broker; messages then come through takeRemoteMessage.
    void showRemoteUnit(const fleet::UnitId& unit, const fleet::IdentityMessage& identity);
    // A message of the unit shown, on the UI thread, as the broker session hands it over.
    void takeRemoteMessage(const std::string& topic, const std::string& payload, std::size_t bytes);
    // The unit shown from the broker, or null.
    const RemoteUnitFeed* remoteUnit() const { return remote_.get(); }

    // A moment chosen in the log overview: Playback entered as its command enters it, path
    // opened in the player (unless it already plays it) and the player moved to record index,
    // so that the panel shows that record. Empty, or why the player could not get there.
    std::string playRecord(const std::string& path, std::int64_t index);
    // The log overview window, or null before Log Overview was first chosen.
    LogOverviewWindow* overviewWindow() const;
    // The traffic window, or null before Traffic was first chosen.
    TrafficWindow* trafficWindow() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // MonitorHost
    void armTimer(int id, int ms) override { timers_.arm(id, ms); }
    void killTimer(int id) override { timers_.kill(id); }
    void setTitle(const std::string& title) override;
    void invalidatePanel() override;
    void refreshStatusBar() override { updateStatusBar(); }
    void postOpenLogFile(int requestKind) override;
    void closeConnectingDialog() override;
    void createRunStopWindow() override;
    bool hasRunStopWindow() const override { return !runStop_.isNull(); }
    void invalidateRunStopWindow() override;
    void activateMainWindow() override;

    std::vector<CommandEntry> commandTable();
    void buildMenu();
    void refreshMenuState();
    void tickLogMenu(bool enable);
    void buildStatusBar();
    void onTimer(int id);
    // The panel is composed at most once per screen refresh, however often it is asked for:
    // fast play steps 200 records a second. The picture then goes to the screen in the parts
    // that changed.
    void requestPanel();
    void onFrame();
    bool composePanel();
    QRegion changedRegion() const;
    void paintPanel(QWidget& view, const QRegion& region);
    void updateStatusBar();
    void layoutStatusBar();
    void fitRestoredFrame();
    void placeRunStop(bool frame);
    void postReplaceRunStop();
    void exitProgram();
    void commPort();
    void toggleReconnectAutomatically();
    void portProperties();
    void scalingSettings();
    void playback();
    void logOverview();
    void traffic();
    void openUnitFromBroker();
    // Runs command unless a remote unit is shown, where it says the command cannot reach the
    // controller over the broker and does nothing else.
    std::function<void()> controllerCommand(const char* what, std::function<void()> command);
    void refuseOverBroker(const char* what);
    // Ends the broker session (Playback, Comm Port, a good Connect); the feed's mode is the
    // controller's.
    void endRemote();
    // After a Connect, by the user or by the planned new try: a good one ended the remote view.
    void followFeedMode();
    void brokerConnectionChanged(bool connected, const std::string& reason);
    void showRemoteNote();
    void showRemoteTitle();
    // The log file's header as the title while it plays; the live title back when playback ends.
    void setPlaybackTitle(const std::string& header);
    void endPlaybackTitle();

    WindowParams params_;
    ProgramSettings settings_;
    LogWriter log_;
    TimerTable timers_;
    // The panel's record and whose it is: the controller's polling fills it, and the player
    // while a file plays back.
    PanelFeed feed_;
    // Every call of the window's own goes through this, so a network open keeps it painting.
    OpenOffThreadLink link_;
    MonitorController controller_;
    std::unique_ptr<SettingsCommands> settingsCommands_;
    Panel panel_;
    // Playback: lives for the run, so the panel keeps the last record after the dialog closes.
    TrendChartFeed playbackTrend_{panel_.chart()};
    LogPlayer player_{feed_.live, playbackTrend_,
                      [this](const std::string& title) { setPlaybackTitle(title); }};
    PanelView* view_ = nullptr;
    // The title the connection gave the window; a played file's header replaces it until Connect.
    std::string liveTitle_;
    // Kept from paint to paint (it only changes with the client size): every good poll paints.
    std::unique_ptr<LayeredQtSurface> surface_;
    std::array<QLabel*, 4> parts_{};
    StatusEdges edges_ = kStatusEdgesAtCreation;
    int barLeft_ = 0;         // the status bar layout's left margin before part 0
    int barGap_ = 0;          // and its spacing between parts
    int serialPartEdge_ = 0;  // where part 0 must end to hold the widest serial number
    std::vector<CommandEntry> commands_;
    std::map<int, std::size_t> keys_;  // Qt key -> entry of commands_
    std::map<int, QAction*> actions_;
    QPointer<ConnectingDialog> connecting_;
    QPointer<RunStopWindow> runStop_;
    QPointer<LogOverviewWindow> overview_;
    QPointer<TrafficWindow> traffic_;
    int connectingTicks_ = 0;
    bool zoomed_ = false;
    int selectedBank_ = 1;
    PortConfig portConfig_;
    QPoint lastClientOrigin_{-1, -1};
    int paints_ = 0;
    QTimer frameTimer_;
    QElapsedTimer sinceCompose_;
    // A picture composed for the paint the window asked for, not yet copied to the view.
    bool composed_ = false;
    // The unit shown from the broker and the session that feeds it; the session goes first,
    // so that no message is handed over while the window is being taken apart.
    std::unique_ptr<RemoteUnitFeed> remote_;
    enum class BrokerLink { Connecting, Connected, Lost, Closed };
    BrokerLink brokerLink_ = BrokerLink::Connecting;
    std::string brokerProblem_;  // why the broker was lost
    std::unique_ptr<BrokerSession> brokerSession_;
};

}  // namespace kvx
