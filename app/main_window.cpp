#include "app/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <cstdio>
#include <cstdlib>

#include "app/comm_port_dialog.h"
#include "app/connecting_dialog.h"
#include "app/panel_view.h"
#include "app/run_stop_window.h"
#include "app/scaling_dialog.h"
#include "app/window_texts.h"
#include "display/qt_surface.h"
#include "resources/program_icon.h"
#include "resources/resource_ids.h"

namespace kvx {

namespace {

void terminateNow(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

struct MenuItem {
    int id;
    const char* caption;
    bool enabled;
};

}  // namespace

MainWindow::MainWindow(WindowParams params)
    : params_(std::move(params)),
      log_(params_.programDir, params_.logClock),
      timers_([this](int id) { onTimer(id); }),
      controller_(*params_.link, log_, *params_.prompts, *this, settings_, params_.clock) {
    if (!params_.terminate) params_.terminate = terminateNow;
    setObjectName(QStringLiteral("myWindowClass"));
    setWindowTitle(QString::fromStdString(startTitle()));
    setWindowIcon(programIcon());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(64, 128, 128));
    setPalette(pal);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);

    view_ = new PanelView([this](QWidget& w) { paintPanel(w); },
                          [this](int w, int h) { panel_.onSize(w, h); }, this);
    setCentralWidget(view_);
    buildMenu();

    // Creation step: the panel, the status bar, then the log clock reference and timers.
    panel_.onCreate(controller_.ranges);
    buildStatusBar();
    controller_.onCreate();
    // Left 0, top 0, height 3 until start-up shows it maximised.
    setGeometry(0, 0, 1024, 3);
}

MainWindow::~MainWindow() {
    if (runStop_) delete runStop_.data();
}

void MainWindow::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QString::number(res::kMainMenu));
    auto add = [this](QMenu* menu, const MenuItem& item) {
        QAction* a = menu->addAction(QString::fromUtf8(item.caption));
        a->setEnabled(item.enabled);
        a->setData(item.id);
        a->setObjectName(QString::number(item.id));
        const int id = item.id;
        connect(a, &QAction::triggered, this, [this, id] { postCommand(id); });
        actions_[id] = a;
        return a;
    };

    QMenu* action = bar->addMenu(QStringLiteral("Action"));
    add(action, {res::kCmdConnect, "Connect        F12", true});
    add(action, {res::kCmdDisconnect, "Disconnect", true});
    add(action, {res::kCmdPlayback, "Playback", false});
    QMenu* logFile = action->addMenu(QStringLiteral("Log File"));
    add(logFile, {res::kCmdLogEnable, "Enable", true})->setCheckable(true);
    add(logFile, {res::kCmdLogDisable, "Disable", true})->setCheckable(true);
    actions_[res::kCmdLogEnable]->setChecked(true);
    add(action, {res::kCmdExit, "Exit", true});

    QMenu* settings = bar->addMenu(QStringLiteral("Settings"));
    add(settings, {res::kCmdPressureSchedule, "&Fuel Pressure Schedule \tF2", false});
    add(settings, {res::kCmdSubstitutionSchedule, "&Fuel Substittution Schedule \tF3", false});
    add(settings, {res::kCmdTemperatureSettings, "&Temperature Settings \tF4", false});
    add(settings, {res::kCmdVibrationSettings, "&Vibration Settings \tF5", false});
    add(settings, {res::kCmdCalibrate, "&Calibrate \tF6", false});
    add(settings, {res::kCmdFlowControl, "&Flow Control Settings \tF8", false});

    QMenu* comm = bar->addMenu(QStringLiteral("Comm Setup"));
    add(comm, {res::kCmdCommPort, "Comm Port", true});
    add(comm, {res::kCmdCommPortProperties, "Comm Port Properties", true});

    QMenu* zoom = bar->addMenu(QStringLiteral("Zoom"));
    add(zoom, {res::kCmdZoomIn, "&Zoom In      ", true});
    add(zoom, {res::kCmdZoomOut, "&Zoom Out    ", true});

    QMenu* tools = bar->addMenu(QStringLiteral("Tools"));
    add(tools, {res::kCmdUploadSettings, "Upload Settings", false});
    add(tools, {res::kCmdDownloadSettings, "Download Settings", false});
    add(tools, {res::kCmdScalingSettings, "Scaling Settings", true});
    add(tools, {res::kCmdVibrationMaxSchedule, "Vibration Max Schedule", false});
    add(tools, {res::kCmdAlarmAcknowledgment, "Alarm Acknowledgment", false});
    add(tools, {res::kCmdEmailMessaging, "Emal Messaging", false});
    add(tools, {res::kCmdEventLog, "Event Log", false});

    QMenu* view = bar->addMenu(QStringLiteral("View"));
    add(view, {res::kCmdLeftBank, "Left Bank", true});
    add(view, {res::kCmdRightBank, "Right Bank", true});
}

void MainWindow::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QString::number(res::kStatusBar));
    bar->setSizeGripEnabled(true);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, QColor(240, 240, 240));
    bar->setPalette(pal);
    bar->setAutoFillBackground(true);
    for (int i = 0; i < 4; ++i) {
        parts_[i] = new QLabel(bar);
        parts_[i]->setObjectName(QStringLiteral("part%1").arg(i));
        parts_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        parts_[i]->setMinimumWidth(0);
        bar->addWidget(parts_[i], i == 3 ? 1 : 0);
    }
    parts_[0]->setText(QString::fromUtf8(kSerialPartAtCreation));
    parts_[3]->setText(QString::fromUtf8(kNoticePartAtCreation));
    layoutStatusBar();
}

void MainWindow::layoutStatusBar() {
    const int w = statusBar()->width();
    const auto widths = statusPartWidths(edges_, w);
    for (int i = 0; i < 3; ++i) {
        parts_[i]->setVisible(widths[i] > 0);
        parts_[i]->setFixedWidth(widths[i]);
    }
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
    showMaximized();
    setFocus();
    readCommFile(params_.programDir, settings_);
    readScalingFile(params_.programDir, settings_);
    controller_.applySpeedRange();
    if (!controller_.openPortAtStartUp(params_.replyTimeoutMs)) return;
    ConnectingDialog dialog(*params_.prompts, connectingTicks_);
    connecting_ = &dialog;
    const int result = dialog.exec();
    connecting_ = nullptr;
    if (result == ConnectingDialog::kResultCancel) {
        controller_.connectingCancelled();
        timers_.kill(kTimerSequence);
    }
}

void MainWindow::postCommand(int id) {
    QMetaObject::invokeMethod(
        this, [this, id] { onCommand(id); }, Qt::QueuedConnection);
}

void MainWindow::onCommand(int id) {
    switch (id) {
        case res::kCmdConnect:
            controller_.connect();
            break;
        case res::kCmdDisconnect:
            controller_.disconnect();
            break;
        case res::kCmdLogEnable:
            actions_[res::kCmdLogEnable]->setChecked(true);
            actions_[res::kCmdLogDisable]->setChecked(false);
            break;
        case res::kCmdLogDisable:
            actions_[res::kCmdLogEnable]->setChecked(false);
            actions_[res::kCmdLogDisable]->setChecked(true);
            break;
        case res::kCmdExit:
            exitProgram();
            break;
        case res::kCmdCommPort:
            commPort();
            break;
        case res::kCmdCommPortProperties:
            portProperties();
            break;
        case res::kCmdZoomIn:
            zoomed_ = true;
            break;
        case res::kCmdZoomOut:
            zoomed_ = false;
            break;
        case res::kCmdScalingSettings:
            scalingSettings();
            break;
        case res::kCmdLeftBank:
            selectedBank_ = 1;
            break;
        case res::kCmdRightBank:
            selectedBank_ = 2;
            break;
        default:
            break;  // the settings screens and playback are not part of this window yet
    }
}

void MainWindow::onTimer(int id) {
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
        default:
            break;
    }
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_F2:
            postCommand(res::kCmdPressureSchedule);
            break;
        case Qt::Key_F3:
            postCommand(res::kCmdSubstitutionSchedule);
            break;
        case Qt::Key_F4:
            postCommand(res::kCmdTemperatureSettings);
            break;
        case Qt::Key_F5:
            postCommand(res::kCmdVibrationSettings);
            break;
        case Qt::Key_F6:
            postCommand(res::kCmdCalibrate);
            break;
        case Qt::Key_F7:
            if (selectedBank_ != 1) {
                postCommand(res::kCmdLeftBank);
                selectedBank_ = 1;
            } else {
                postCommand(res::kCmdRightBank);
                selectedBank_ = 2;
            }
            break;
        case Qt::Key_F8:
            postCommand(res::kCmdFlowControl);
            break;
        case Qt::Key_F12:
            postCommand(res::kCmdDisconnect);
            postCommand(res::kCmdConnect);
            break;
        case Qt::Key_Escape:
            postCommand(res::kCmdExit);
            break;
        default:
            QMainWindow::keyPressEvent(event);
            return;
    }
    event->accept();
}

void MainWindow::closeEvent(QCloseEvent* event) {
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
    controller_.shutdown();
    if (runStop_) runStop_->close();
}

void MainWindow::exitProgram() {
    controller_.shutdown();
    params_.terminate(0);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    edges_ = statusEdgesForWidth(statusBar()->width());
    layoutStatusBar();
    postReplaceRunStop();
}

void MainWindow::setTitle(const std::string& title) {
    setWindowTitle(QString::fromStdString(title));
}

void MainWindow::invalidatePanel(bool) {
    // Every paint covers the whole panel, so erasing first changes nothing.
    view_->update();
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
        runStop_ = new RunStopWindow([this] { return controller_.ready(); },
                                     [this] { controller_.runStopClicked(); }, this);
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

void MainWindow::paintPanel(QWidget& view) {
    const int w = view.width(), h = view.height();
    if (w <= 0 || h <= 0) return;
    ++paints_;
    if (!surface_ || surface_->width() != w || surface_->height() != h)
        surface_ = std::make_unique<QtSurface>(w, h);
    else
        surface_->reset();
    panel_.onPaint(*surface_, w, h, panelInputs());
    QPainter painter(&view);
    painter.drawImage(0, 0, surface_->image());
    painter.end();
    updateStatusBar();
    const QPoint origin = view.mapToGlobal(QPoint(0, 0));
    if (origin != lastClientOrigin_) {
        if (lastClientOrigin_ != QPoint(-1, -1)) postReplaceRunStop();
        lastClientOrigin_ = origin;
    }
}

PanelInputs MainWindow::panelInputs() const {
    return {controller_.live, controller_.image, controller_.status,        controller_.ranges,
            selectedBank_,    zoomed_,           controller_.playbackActive};
}

void MainWindow::updateStatusBar() {
    const StatusTexts t = controller_.statusTexts();
    for (int i : {2, 0, 1, 3})
        parts_[i]->setText(QString::fromStdString(t.parts[i]));
}

void MainWindow::commPort() {
    controller_.stopPolling();
    CommPortDialog dialog(settings_, this);
    if (dialog.exec() != CommPortDialog::kResultOk) return;
    const int result = controller_.commPortReopen(params_.programDir);
    portProperties();
    controller_.commPortFinish(result);
}

void MainWindow::portProperties() {
    PortPropertiesDialog dialog(settings_.portName, portConfig_, this);
    dialog.exec();
}

void MainWindow::scalingSettings() {
    ScalingDialog dialog(settings_, params_.programDir, this);
    dialog.exec();
    controller_.applySpeedRange();
    view_->update();
}

}  // namespace kvx
