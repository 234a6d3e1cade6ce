#include "app/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "app/broker_session.h"
#include "app/broker_unit_dialog.h"
#include "app/comm_port_dialog.h"
#include "app/connecting_dialog.h"
#include "app/core/window_texts.h"
#include "app/log_overview_window.h"
#include "app/panel_view.h"
#include "app/remote_unit.h"
#include "app/run_stop_window.h"
#include "app/scaling_dialog.h"
#include "app/settings_commands.h"
#include "app/traffic_window.h"
#include "display/layered_qt_surface.h"
#include "log/log_result.h"
#include "log/playback_dialog.h"
#include "resources/program_icon.h"
#include "resources/resource_ids.h"

namespace kvx {

namespace {

void terminateNow(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

// What cannot be done while a unit is shown from the broker, after "This unit is shown from
// the broker: ".
constexpr const char* kSettingsCannotBeWritten = "settings cannot be written from here.";
constexpr const char* kSettingsCannotBeRead = "its settings cannot be read from here.";
constexpr const char* kAlarmCannotBeAcknowledged = "its alarm cannot be acknowledged from here.";
constexpr const char* kEventLogCannotBeRead = "its event log cannot be read from here.";
constexpr const char* kServiceReportCannotBeRead =
    "its identity, settings and event log for a service report cannot be read from here.";
constexpr const char* kCannotBeStopped = "it cannot be stopped or started from here.";

}  // namespace

MainWindow::MainWindow(WindowParams params)
    : params_(std::move(params)),
      log_(params_.programDir, params_.logClock),
      timers_([this](int id) { onTimer(id); }),
      link_(*params_.link, isNetworkPortName),
      controller_(link_, log_, *params_.prompts, *this, settings_, feed_, params_.clock),
      settingsCommands_(std::make_unique<SettingsCommands>(
          link_, *params_.prompts, static_cast<MonitorHost&>(*this), settings_, controller_, this,
          params_.programDir)) {
    if (!params_.terminate) params_.terminate = terminateNow;
    setObjectName(QStringLiteral("myWindowClass"));
    setTitle(startTitle());
    setWindowIcon(programIcon());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(64, 128, 128));
    setPalette(pal);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);

    view_ = new PanelView([this](QWidget& w, const QRegion& r) { paintPanel(w, r); },
                          [this](int w, int h) { panel_.onSize(w, h); }, this);
    setCentralWidget(view_);
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { onFrame(); });
    commands_ = commandTable();
    buildMenu();

    // Creation step: the panel, the status bar, then the log clock reference and timers.
    panel_.onCreate(controller_.state().ranges);
    buildStatusBar();
    controller_.onCreate();
    // Left 0, top 0, height 3 until start-up shows it maximised.
    setGeometry(0, 0, 1024, 3);
}

MainWindow::~MainWindow() {
    // Its background work ends before anything it reports to goes.
    if (overview_) delete overview_.data();
    // The link stops recording into the window's ring before the ring goes.
    if (traffic_) delete traffic_.data();
    if (runStop_) delete runStop_.data();
}

std::vector<CommandEntry> MainWindow::commandTable() {
    auto always = [] { return true; };
    auto post = [this](int id) { return [this, id] { postCommand(id); }; };
    // Commands that write settings; over the broker nothing can be.
    auto screen = [this](const ScreenTable& table) {
        return controllerCommand(kSettingsCannotBeWritten,
                                 [this, &table] { settingsCommands_->registerScreen(table); });
    };
    auto writes = [this](void (SettingsCommands::*command)()) {
        return controllerCommand(kSettingsCannotBeWritten,
                                 [this, command] { (settingsCommands_.get()->*command)(); });
    };
    // Menu path, id, caption, key, enabled, handler. Key-only entries (id 0) have no menu item.
    return {
        {"Action", res::kCmdConnect, "Connect        F12", 0, always,
         [this] {
             controller_.connect();
             followFeedMode();
             endPlaybackTitle();
         }},
        {"Action", res::kCmdDisconnect, "Disconnect", 0, always,
         [this] {
             controller_.disconnect();
             // A unit shown from the broker stays on the panel, no longer fed.
             if (remote_ && brokerSession_) {
                 brokerSession_.reset();
                 brokerLink_ = BrokerLink::Closed;
                 showRemoteNote();
             }
         }},
        {"Action", res::kCmdPlayback, "Playback", 0, always, [this] { playback(); }},
        {"Action/Log File", res::kCmdLogEnable, "Enable", 0, always, [this] { tickLogMenu(true); },
         true},
        {"Action/Log File", res::kCmdLogDisable, "Disable", 0, always,
         [this] { tickLogMenu(false); }, true},
        {"Action", res::kCmdExit, "Exit", Qt::Key_Escape, always, [this] { exitProgram(); }},

        {"Settings", res::kCmdPressureSchedule, "&Fuel Pressure Schedule \tF2", Qt::Key_F2, always,
         screen(pressureScheduleScreen())},
        {"Settings", res::kCmdSubstitutionSchedule, "&Fuel Substittution Schedule \tF3", Qt::Key_F3,
         always, screen(substitutionScheduleScreen())},
        {"Settings", res::kCmdTemperatureSettings, "&Temperature Settings \tF4", Qt::Key_F4, always,
         screen(exhaustTemperatureScreen())},
        {"Settings", res::kCmdVibrationSettings, "&Vibration Settings \tF5", Qt::Key_F5, always,
         screen(vibrationSensorScreen())},
        {"Settings", res::kCmdCalibrate, "&Calibrate \tF6", Qt::Key_F6, always,
         writes(&SettingsCommands::calibrate)},
        {"Settings", res::kCmdFlowControl, "&Flow Control Settings \tF8", Qt::Key_F8, always,
         writes(&SettingsCommands::flowControl)},

        {"Comm Setup", res::kCmdCommPort, "Comm Port", 0, always, [this] { commPort(); }},
        {"Comm Setup", res::kCmdCommPortProperties, "Comm Port Properties", 0, always,
         [this] { portProperties(); }},
        {"Comm Setup", res::kCmdReconnectAutomatically, "Reconnect automatically", 0, always,
         [this] { toggleReconnectAutomatically(); }, true},
        {"Comm Setup", res::kCmdOpenBrokerUnit, "Open Unit from Broker...", 0, always,
         [this] { openUnitFromBroker(); }},

        {"Zoom", res::kCmdZoomIn, "&Zoom In      ", 0, always,
         [this] {
             zoomed_ = true;
             requestPanel();
         }},
        {"Zoom", res::kCmdZoomOut, "&Zoom Out    ", 0, always,
         [this] {
             zoomed_ = false;
             requestPanel();
         }},

        {"Tools", res::kCmdUploadSettings, "Upload Settings", 0, always,
         controllerCommand(kSettingsCannotBeRead, [this] { settingsCommands_->uploadSettings(); })},
        {"Tools", res::kCmdDownloadSettings, "Download Settings", 0, always,
         writes(&SettingsCommands::downloadSettings)},
        {"Tools", res::kCmdScalingSettings, "Scaling Settings", 0, always,
         [this] { scalingSettings(); }},
        {"Tools", res::kCmdVibrationMaxSchedule, "Vibration Max Schedule", 0, always,
         screen(vibrationScheduleScreen())},
        {"Tools", res::kCmdAlarmAcknowledgment, "Alarm Acknowledgment", 0, always,
         controllerCommand(kAlarmCannotBeAcknowledged,
                           [this] { settingsCommands_->alarmAcknowledgment(); })},
        {"Tools", res::kCmdEmailMessaging, "Emal Messaging", 0, always,
         writes(&SettingsCommands::emailMessaging)},
        {"Tools", res::kCmdEventLog, "Event Log", 0, always,
         controllerCommand(kEventLogCannotBeRead, [this] { settingsCommands_->eventLog(); })},
        {"Tools", res::kCmdLogOverview, "Log Overview...", 0, always, [this] { logOverview(); }},
        {"Tools", res::kCmdServiceReport, "Service Report...", 0, always,
         controllerCommand(kServiceReportCannotBeRead,
                           [this] { settingsCommands_->serviceReport(selectedBank_); })},

        {"View", res::kCmdLeftBank, "Left Bank", 0, always, [this] { selectedBank_ = 1; }},
        {"View", res::kCmdRightBank, "Right Bank", 0, always, [this] { selectedBank_ = 2; }},
        {"View", res::kCmdTraffic, "Traffic...", 0, always, [this] { traffic(); }},

        // F7 toggles the bank through the View commands; F12 reconnects.
        {nullptr, 0, nullptr, Qt::Key_F7, always,
         [this] {
             if (selectedBank_ != 1) {
                 postCommand(res::kCmdLeftBank);
                 selectedBank_ = 1;
             } else {
                 postCommand(res::kCmdRightBank);
                 selectedBank_ = 2;
             }
         }},
        {nullptr, 0, nullptr, Qt::Key_F12, always,
         [post] {
             post(res::kCmdDisconnect)();
             post(res::kCmdConnect)();
         }},
    };
}

void MainWindow::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QString::number(res::kMainMenu));
    std::map<std::string, QMenu*> menus;
    auto menuFor = [&](const std::string& path) {
        if (auto it = menus.find(path); it != menus.end()) return it->second;
        const auto slash = path.rfind('/');
        QMenu* menu = slash == std::string::npos
                          ? bar->addMenu(QString::fromStdString(path))
                          : menus.at(path.substr(0, slash))
                                ->addMenu(QString::fromStdString(path.substr(slash + 1)));
        // Whether an item is enabled may depend on the window's state: asked on every opening.
        connect(menu, &QMenu::aboutToShow, this, [this] { refreshMenuState(); });
        menus[path] = menu;
        return menu;
    };
    for (std::size_t i = 0; i < commands_.size(); ++i) {
        const CommandEntry& c = commands_[i];
        if (c.key) keys_[c.key] = i;
        if (!c.menu) continue;
        QAction* a = menuFor(c.menu)->addAction(QString::fromUtf8(c.caption));
        a->setData(c.id);
        a->setObjectName(QString::number(c.id));
        a->setCheckable(c.checkable);
        const int id = c.id;
        connect(a, &QAction::triggered, this, [this, id] { postCommand(id); });
        actions_[id] = a;
    }
    actions_[res::kCmdLogEnable]->setChecked(true);
    refreshMenuState();
}

void MainWindow::refreshMenuState() {
    for (const CommandEntry& c : commands_)
        if (c.id) actions_[c.id]->setEnabled(c.enabled());
}

void MainWindow::tickLogMenu(bool enable) {
    actions_[res::kCmdLogEnable]->setChecked(enable);
    actions_[res::kCmdLogDisable]->setChecked(!enable);
}

namespace {

// The parts' edges were laid out for a small status font: this face at a cell of 11 pixels
// holds every part's usual text whole from 1366 pixels on; the serial number's part keeps room
// for its text on narrower screens too.
QFont statusFont() {
    QFont f(QStringLiteral("DejaVu Sans Condensed"));
    f.setPixelSize(10);
    return f;
}

// Room between a part's sunken frame and its text.
constexpr int kPartIndent = 2;

// The widest serial-number text a part can be asked to show: a sign and five of the widest
// digit bound every sixteen-bit number, whatever the font's digits are like.
int widestSerialNumberText(const QFontMetrics& fm) {
    int widest = 0;
    for (int digit = 0; digit <= 9; ++digit) {
        const int n = -11111 * digit;  // may pass -32768: only its width counts
        widest =
            std::max(widest, fm.horizontalAdvance(QString::fromStdString(serialNumberText(n))));
    }
    return widest;
}

// Shows text in a part; when the part is too narrow for it, the whole text is its tooltip.
void setPartText(QLabel& part, const QString& text) {
    if (part.text() != text) part.setText(text);
    const QFontMetrics fm(part.font());
    const int room = part.contentsRect().width() - kPartIndent;
    const QString tip = fm.horizontalAdvance(text) <= room ? QString() : text;
    if (part.toolTip() != tip) part.setToolTip(tip);
}

}  // namespace

void MainWindow::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QString::number(res::kStatusBar));
    bar->setSizeGripEnabled(true);
    bar->setFont(statusFont());
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, QColor(240, 240, 240));
    bar->setPalette(pal);
    bar->setAutoFillBackground(true);
    for (int i = 0; i < 4; ++i) {
        parts_[i] = new QLabel(bar);
        parts_[i]->setObjectName(QStringLiteral("part%1").arg(i));
        parts_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        parts_[i]->setIndent(kPartIndent);
        bar->addWidget(parts_[i], i == 3 ? 1 : 0);
    }
    // Where the bar's layout puts its first part and how far apart it sets the parts: measured
    // once, with every part one pixel wide.
    for (QLabel* part : parts_)
        part->setFixedWidth(1);
    bar->layout()->invalidate();
    bar->layout()->activate();
    barLeft_ = parts_[0]->x();
    barGap_ = parts_[1]->x() - (parts_[0]->x() + 1);
    // The proportional edges leave too little of a 1024-pixel bar for the serial number.
    serialPartEdge_ = barLeft_ + 2 * parts_[0]->frameWidth() + kPartIndent +
                      widestSerialNumberText(QFontMetrics(parts_[0]->font()));
    // Parts 0 to 2 keep fixed widths from the edges; the last one takes what is left, however
    // little, never what its text asks for.
    parts_[3]->setMinimumWidth(0);
    parts_[3]->setMaximumWidth(QWIDGETSIZE_MAX);
    parts_[3]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    parts_[0]->setText(QString::fromUtf8(kSerialPartAtCreation));
    parts_[3]->setText(QString::fromUtf8(kNoticePartAtCreation));
    layoutStatusBar();
}

void MainWindow::layoutStatusBar() {
    QStatusBar* bar = statusBar();
    // Each part's right edge lands on the rule's edge: its width runs from where the layout
    // puts its left edge (after the bar's margin or the spacing behind the part before).
    // A part with no room is hidden, and then takes no spacing either.
    int left = barLeft_;
    for (int i = 0; i < 3; ++i) {
        const int width = edges_[i] - left;
        parts_[i]->setVisible(width > 0);
        if (width <= 0) continue;
        parts_[i]->setFixedWidth(width);
        left = edges_[i] + barGap_;
    }
    bar->layout()->invalidate();
    bar->layout()->activate();
    for (QLabel* part : parts_)
        setPartText(*part, part->text());
}

QString MainWindow::statusPart(int i) const {
    return i >= 0 && i < 4 ? parts_[i]->text() : QString();
}

int MainWindow::statusPartWidth(int i) const {
    if (i < 0 || i >= 4) return 0;
    return statusPartWidths(edges_, statusBar()->width())[i];
}

QAction* MainWindow::action(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::startUp() {
    createProgramDirectory(params_.programDir);  // an existing one is fine, a failure too
    // Maximising is only a request to the window manager: without one, or with one that
    // ignores it, the window would keep its creation height of 3 pixels. Its normal geometry
    // covers the screen's work area first, so it is whole either way and after a restore too.
    if (const QScreen* screen = this->screen()) setGeometry(screen->availableGeometry());
    showMaximized();
    setFocus();
    readCommFile(params_.programDir, settings_);
    readScalingFile(params_.programDir, settings_);
    std::vector<std::string> problems;
    readOptionsFile(params_.programDir, settings_, problems);
    for (const std::string& p : problems)
        std::fprintf(stderr, "orvik-kvx: %s\n", p.c_str());
    link_.setTlsFiles(settings_.tls);
    actions_[res::kCmdReconnectAutomatically]->setChecked(settings_.reconnectAutomatically);
    controller_.applySpeedRange();
    if (!controller_.openPortAtStartUp(params_.replyTimeoutMs)) return;
    ConnectingDialog dialog(*params_.prompts, connectingTicks_,
                            [this] { controller_.connectingCancelled(); });
    dialog.setGiveUpQuietly(settings_.reconnectAutomatically);
    connecting_ = &dialog;
    const int result = dialog.exec();
    connecting_ = nullptr;
    if (result == ConnectingDialog::kResultCancel) {
        timers_.kill(kTimerSequence);
        if (dialog.gaveUp()) controller_.connectingGaveUp();
    }
}

void MainWindow::postCommand(int id) {
    QMetaObject::invokeMethod(
        this, [this, id] { onCommand(id); }, Qt::QueuedConnection);
}

void MainWindow::onCommand(int id) {
    // A command posted before a network open began waits for it: nothing may run on a link
    // that is half open, or re-enter the controller in the middle of its Connect.
    if (link_.opening()) {
        QTimer::singleShot(kWhileOpeningMs, this, [this, id] { onCommand(id); });
        return;
    }
    // Any other id is ignored, as is a command without a handler yet.
    for (const CommandEntry& c : commands_) {
        if (c.id == id && id != 0) {
            if (c.run) c.run();
            return;
        }
    }
}

void MainWindow::onTimer(int id) {
    // Ticks during a network open are dropped: the poll would fail on the closed link and
    // count against the connection, and the others find their work again on the next tick.
    if (link_.opening()) return;
    switch (id) {
        case kTimerPoll:
            controller_.pollTick();
            break;
        case kTimerSequence:
            controller_.connectSequenceTick();
            break;
        case kTimerLogClock:
            controller_.logClockTick();
            break;
        case kTimerReconnect:
            controller_.reconnectTick();
            followFeedMode();
            break;
        default:
            break;
    }
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    const auto it = keys_.find(event->key());
    if (it == keys_.end()) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    // A key posts its command rather than running it; F7 and F12 post theirs themselves.
    const CommandEntry& c = commands_[it->second];
    if (c.id)
        postCommand(c.id);
    else
        c.run();
    event->accept();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The question waits until a network open has ended (a few seconds at most).
    if (link_.opening()) {
        event->ignore();
        QTimer::singleShot(kWhileOpeningMs, this, &QWidget::close);
        return;
    }
    if (params_.prompts->messageBox("Are you sure you want to close window?",
                                    "Confirm Window Close", BoxIcon::Question, BoxButtons::YesNo,
                                    false) != kAnswerYes) {
        event->ignore();
        return;
    }
    shutDown();
    event->accept();
}

void MainWindow::shutDown() {
    brokerSession_.reset();
    controller_.shutdown();
    if (runStop_) runStop_->close();
}

void MainWindow::exitProgram() {
    controller_.shutdown();
    params_.terminate(0);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    edges_ = statusEdgesForWidth(statusBar()->width(), serialPartEdge_);
    layoutStatusBar();
    postReplaceRunStop();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // The window manager puts a restored window back at its normal geometry after telling us.
    if (event->type() == QEvent::WindowStateChange && windowState() == Qt::WindowNoState)
        QTimer::singleShot(100, this, [this] { fitRestoredFrame(); });
}

void MainWindow::fitRestoredFrame() {
    // The normal geometry from start-up covers the work area with the client alone, so once
    // restored under a window manager the title bar would sit above the screen: the frame is
    // fitted into the work area instead. A window the user made larger stays as it is.
    const QScreen* screen = this->screen();
    if (!screen || !isVisible() || windowState() != Qt::WindowNoState) return;
    const QRect area = screen->availableGeometry();
    const QRect client = geometry(), frame = frameGeometry();
    if (!area.contains(client) || area.contains(frame)) return;
    setGeometry(area.adjusted(client.left() - frame.left(), client.top() - frame.top(),
                              client.right() - frame.right(), client.bottom() - frame.bottom()));
}

void MainWindow::setTitle(const std::string& title) {
    liveTitle_ = title;
    setWindowTitle(QString::fromStdString(title));
}

void MainWindow::setPlaybackTitle(const std::string& header) {
    // A file without a header names no firmware: the window's first title claims none either.
    setWindowTitle(QString::fromStdString(header.empty() ? startTitle() : header));
}

void MainWindow::endPlaybackTitle() {
    if (!feed_.logRecord()) setWindowTitle(QString::fromStdString(liveTitle_));
}

void MainWindow::invalidatePanel() {
    // Every picture covers the whole panel, so nothing needs erasing first.
    requestPanel();
}

void MainWindow::postOpenLogFile(int requestKind) {
    QMetaObject::invokeMethod(
        this, [this, requestKind] { controller_.openLogFile(requestKind); }, Qt::QueuedConnection);
}

void MainWindow::closeConnectingDialog() {
    if (connecting_) connecting_->closeBySequence();
}

void MainWindow::createRunStopWindow() {
    if (!runStop_) {
        runStop_ = new RunStopWindow(
            [this] { return controller_.ready(); },
            controllerCommand(kCannotBeStopped, [this] { controller_.runStopClicked(); }), this);
    }
    placeRunStop(false);
    runStop_->show();
}

void MainWindow::invalidateRunStopWindow() {
    if (runStop_) runStop_->button()->update();
}

void MainWindow::activateMainWindow() {
    activateWindow();
    raise();
}

void MainWindow::placeRunStop(bool frame) {
    if (!runStop_) return;
    Point at;
    bool ok;
    if (frame) {
        const QRect r = frameGeometry();
        ok = runStopPosition(r.x(), r.y(), r.width(), r.height(), kRunStopFrameFactor, at);
    } else {
        // The client area: everything below the menu bar.
        const QPoint origin = mapToGlobal(QPoint(0, menuBar()->height()));
        ok = runStopPosition(origin.x(), origin.y(), width(), height() - menuBar()->height(),
                             kRunStopClientFactor, at);
    }
    if (ok) runStop_->move(at.x, at.y);
}

void MainWindow::postReplaceRunStop() {
    QMetaObject::invokeMethod(
        this, [this] { placeRunStop(true); }, Qt::QueuedConnection);
}

void MainWindow::requestPanel() {
    if (frameTimer_.isActive()) return;
    const QScreen* screen = view_->screen();
    const double hz = screen && screen->refreshRate() > 1 ? screen->refreshRate() : 60.0;
    const int frameMs = std::clamp(static_cast<int>(1000.0 / hz), 4, 50);
    const qint64 since = sinceCompose_.isValid() ? sinceCompose_.elapsed() : frameMs;
    frameTimer_.start(static_cast<int>(std::clamp<qint64>(frameMs - since, 0, frameMs)));
}

void MainWindow::onFrame() {
    // A hidden or minimised view is not painted; showing it paints it whole.
    if (!view_->isVisible() || isMinimized()) return;
    if (!composePanel()) return;
    composed_ = true;
    view_->update(changedRegion());
}

QRegion MainWindow::changedRegion() const {
    QRegion changed;
    for (const LayeredQtSurface::Box& b : surface_->changed())
        changed += QRect(b.left, b.top, b.right - b.left, b.bottom - b.top);
    return changed;
}

bool MainWindow::composePanel() {
    const int w = view_->width(), h = view_->height();
    if (w <= 0 || h <= 0) return false;
    ++paints_;
    if (!surface_ || surface_->width() != w || surface_->height() != h)
        surface_ = std::make_unique<LayeredQtSurface>(w, h);
    else
        surface_->reset();
    if (feed_.playback()) {
        // A zoom or a resize changes how many records the chart holds: the chunk is cut for
        // the new capacity before this paint, so the chart shows it whole and the cursor stays
        // on the record at the position.
        panel_.applyChartLayout(zoomed_);
        player_.fitChunkToChart();
    }
    panel_.onPaint(*surface_, w, h, panelInputs());
    surface_->image();  // drawn now, so that changed() is known
    sinceCompose_.start();
    updateStatusBar();
    const QPoint origin = view_->mapToGlobal(QPoint(0, 0));
    if (origin != lastClientOrigin_) {
        if (lastClientOrigin_ != QPoint(-1, -1)) postReplaceRunStop();
        lastClientOrigin_ = origin;
    }
    return true;
}

void MainWindow::paintPanel(QWidget& view, const QRegion& region) {
    // A paint the window asked for shows the picture composed for it; any other (the view
    // shown, resized or uncovered, or asked for by someone else) composes one first.
    const bool fits =
        surface_ && surface_->width() == view.width() && surface_->height() == view.height();
    bool composedHere = false;
    if (!composed_ || !fits) {
        if (!composePanel()) return;
        composedHere = true;
    }
    composed_ = false;
    const QImage& image = surface_->image();
    // The whole picture, clipped to each rectangle in turn: a source rectangle or an image over
    // part of the picture made Qt keep about 5.7 kB per draw, and a clip to the whole region
    // builds 2 MB of clip spans each paint (both seen with heaptrack); a rectangle clip does
    // neither.
    QPainter painter(&view);
    for (const QRect& r : region) {
        painter.setClipRect(r);
        painter.drawImage(QPoint(0, 0), image);
    }
    painter.end();
    // What the new picture changed outside this paint's area is still to go to the screen.
    if (composedHere) {
        const QRegion rest = changedRegion() - region;
        if (!rest.isEmpty()) {
            composed_ = true;
            view_->update(rest);
        }
    }
}

PanelInputs MainWindow::panelInputs() const {
    const MonitorState& state = controller_.state();
    return {feed_.live,    state.image, state.status,     state.ranges,
            selectedBank_, zoomed_,     feed_.playback(), feed_.remote()};
}

void MainWindow::updateStatusBar() {
    const StatusTexts t = controller_.statusTexts();
    for (int i : {2, 0, 1, 3})
        setPartText(*parts_[i], QString::fromStdString(t.parts[i]));
}

void MainWindow::commPort() {
    controller_.stopPolling();
    controller_.cancelReconnect();
    CommPortDialog dialog(settings_, this);
    if (dialog.exec() != CommPortDialog::kResultOk) return;
    // The port chosen is this computer's line: the unit from the broker gives way to it.
    endRemote();
    const int result = controller_.commPortReopen(params_.programDir);
    portProperties();
    controller_.commPortFinish(result);
}

void MainWindow::toggleReconnectAutomatically() {
    const bool on = !settings_.reconnectAutomatically;
    settings_.reconnectAutomatically = on;
    actions_[res::kCmdReconnectAutomatically]->setChecked(on);
    std::string why;
    if (!writeOption(params_.programDir, kReconnectKey, on ? "yes" : "no", why)) {
        const std::string text = std::string("Reconnect automatically is ") + (on ? "on" : "off") +
                                 " until the viewer closes, but it could not be kept:\n" + why;
        params_.prompts->messageBox(text, "Reconnect automatically", BoxIcon::Warning,
                                    BoxButtons::Ok, false);
    }
}

void MainWindow::portProperties() {
    PortPropertiesDialog dialog(settings_.portName, portConfig_, this);
    dialog.exec();
}

void MainWindow::scalingSettings() {
    ScalingDialog dialog(settings_, params_.programDir, this);
    dialog.exec();
    controller_.applySpeedRange();
    requestPanel();
}

void MainWindow::playback() {
    endRemote();
    controller_.enterPlayback();
    std::unique_ptr<PlaybackDialog> dialog;
    try {
        dialog = std::make_unique<PlaybackDialog>(
            player_, *params_.prompts, params_.programDir, [this] { requestPanel(); }, this);
    } catch (const std::bad_alloc&) {
    }
    if (!dialog) {
        params_.prompts->messageBox("Error creating playback dialog", "Playback", BoxIcon::Warning,
                                    BoxButtons::Ok, false);
        return;
    }
    dialog->exec();
}

std::string MainWindow::playRecord(const std::string& path, std::int64_t index) {
    // As the Playback command enters it; once in, a further moment only moves the player.
    if (!feed_.playback()) {
        endRemote();
        controller_.enterPlayback();
    }
    int result = LOG_OK;
    // The file of the hour being logged has grown since the player opened it: open it again.
    if (!player_.loaded() || player_.path() != path || index > player_.lastRecordIndex())
        result = player_.openFile(path);
    if (result == LOG_OK) {
        const auto position = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(index, 0, std::numeric_limits<std::int32_t>::max()));
        result = player_.changePosition(position);
    }
    requestPanel();
    return playbackResultText(result, path);
}

TrafficWindow* MainWindow::trafficWindow() const {
    return traffic_.data();
}

void MainWindow::traffic() {
    if (!traffic_) {
        // Through the window's own link: the ring is neither switched nor read while a
        // network open runs on its worker.
        traffic_ = new TrafficWindow(
            *params_.prompts, link_, [this] { return link_.opening(); }, this);
    }
    traffic_->show();
    traffic_->raise();
    traffic_->activateWindow();
}

LogOverviewWindow* MainWindow::overviewWindow() const {
    return overview_.data();
}

void MainWindow::logOverview() {
    if (!overview_) {
        overview_ = new LogOverviewWindow(
            *params_.prompts, params_.programDir,
            [this](const std::string& path, std::int64_t index) { return playRecord(path, index); },
            this);
    }
    overview_->show();
    overview_->raise();
    overview_->activateWindow();
}

}  // namespace kvx

namespace kvx {

std::function<void()> MainWindow::controllerCommand(const char* what,
                                                    std::function<void()> command) {
    return [this, what, command = std::move(command)] {
        if (feed_.remote()) {
            refuseOverBroker(what);
            return;
        }
        command();
    };
}

void MainWindow::refuseOverBroker(const char* what) {
    const std::string text = std::string("This unit is shown from the broker: ") + what +
                             "\nConnect (F12) to a controller on this computer's line first.";
    params_.prompts->messageBox(text, "Open Unit from Broker", BoxIcon::Information, BoxButtons::Ok,
                                false);
}

void MainWindow::openUnitFromBroker() {
    BrokerUnitDialog dialog(settings_, this);
    if (dialog.exec() != BrokerUnitDialog::kResultOpen || !dialog.choice()) return;
    const BrokerUnitDialog::Choice& c = *dialog.choice();
    openRemoteUnit(c.url, c.unit, c.identity);
}

bool MainWindow::openRemoteUnit(const std::string& url, const fleet::UnitId& unit,
                                const fleet::IdentityMessage& identity) {
    auto session = std::make_unique<BrokerSession>();
    session->onMessage([this](const std::string& topic, const std::string& payload,
                              std::size_t bytes) { takeRemoteMessage(topic, payload, bytes); });
    session->onConnection([this](bool connected, const std::string& reason) {
        brokerConnectionChanged(connected, reason);
    });
    std::vector<std::string> filters;
    for (fleet::TopicKind kind : RemoteUnitFeed::kTopics)
        filters.push_back(fleet::topicFor(unit, kind));
    std::string why;
    if (!session->start(url, settings_, filters, why)) {
        params_.prompts->messageBox("The unit cannot be opened from the broker:\n" + why,
                                    "Open Unit from Broker", BoxIcon::Warning, BoxButtons::Ok,
                                    false);
        return false;
    }
    showRemoteUnit(unit, identity);
    brokerSession_ = std::move(session);
    return true;
}

void MainWindow::showRemoteUnit(const fleet::UnitId& unit, const fleet::IdentityMessage& identity) {
    endRemote();
    remote_ = std::make_unique<RemoteUnitFeed>(unit, identity);
    brokerLink_ = BrokerLink::Connecting;
    brokerProblem_.clear();
    controller_.enterRemote(fleet::unitName(unit));
    showRemoteTitle();
    showRemoteNote();
}

void MainWindow::takeRemoteMessage(const std::string& topic, const std::string& payload,
                                   std::size_t bytes) {
    // One queued before the view ended belongs to no unit shown.
    if (!remote_ || !feed_.remote()) return;
    std::string why;
    switch (remote_->take(topic, payload, feed_.live, why)) {
        case RemoteUnitFeed::Took::Skipped:
            std::fprintf(stderr, "orvik-kvx: %s\n", skippedMessageLine(topic, bytes, why).c_str());
            break;
        case RemoteUnitFeed::Took::Record:
            requestPanel();
            invalidateRunStopWindow();
            break;
        case RemoteUnitFeed::Took::Status:
            showRemoteNote();
            break;
        case RemoteUnitFeed::Took::Identity:
            showRemoteTitle();
            break;
        case RemoteUnitFeed::Took::Ignored:
            break;
    }
}

void MainWindow::brokerConnectionChanged(bool connected, const std::string& reason) {
    if (!remote_ || !brokerSession_) return;
    // The client tries again by itself: each failed try says so, but only a new reason is
    // worth a line.
    if (!connected && (brokerLink_ != BrokerLink::Lost || reason != brokerProblem_))
        std::fprintf(stderr, "orvik-kvx: broker lost for %s: %s\n",
                     fleet::unitName(remote_->unit()).c_str(), reason.c_str());
    brokerLink_ = connected ? BrokerLink::Connected : BrokerLink::Lost;
    brokerProblem_ = connected ? std::string() : reason;
    showRemoteNote();
}

void MainWindow::showRemoteNote() {
    if (!remote_) return;
    std::string note;
    if (brokerLink_ == BrokerLink::Closed)
        note = remoteUnitNote("disconnected", "");
    else if (brokerLink_ == BrokerLink::Lost)
        note = remoteUnitNote("lost", brokerProblem_);
    else if (const auto& status = remote_->status())
        note = remoteUnitNote(fleet::unitStateName(status->state), status->reason);
    else if (brokerLink_ == BrokerLink::Connecting)
        note = remoteUnitNote("connecting", "");
    else
        note = remoteUnitNote("waiting for data", "");
    controller_.setRemoteNote(note);
}

void MainWindow::showRemoteTitle() {
    if (!remote_) return;
    const int firmware = remote_->identity() ? remote_->identity()->firmware : 0;
    setWindowTitle(QString::fromStdString(remoteTitle(firmware, fleet::unitName(remote_->unit()))));
}

void MainWindow::endRemote() {
    brokerSession_.reset();
    const bool shown = remote_ != nullptr;
    remote_.reset();
    controller_.leaveRemote();
    if (shown) setWindowTitle(QString::fromStdString(liveTitle_));
}

void MainWindow::followFeedMode() {
    if (remote_ && !feed_.remote()) endRemote();
}

}  // namespace kvx
