#pragma once
// The settings commands of the main window: stop polling, read the screen's blocks, ask for
// the access code where the command is guarded, run the screen, then reconnect. The steps
// without a window are the core's SettingsSession; the screens and their blocks are the
// settings layer's; this puts the dialogs between them.
#include <QPointer>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <string>

#include "app/core/monitor_controller.h"
#include "app/core/monitor_host.h"
#include "app/core/program_settings.h"
#include "app/core/settings_session.h"
#include "app/service_report_dialog.h"
#include "link/device_link.h"
#include "settings/register_block.h"
#include "settings/screen_table.h"
#include "ui/prompts.h"

namespace kvx {

class SettingsCommands {
  public:
    SettingsCommands(DeviceLink& link, Prompts& prompts, MonitorHost& host,
                     ProgramSettings& settings, MonitorController& controller, QWidget* window,
                     std::string programDir);

    // F2, F3, F4, F5 and Vibration Max Schedule.
    void registerScreen(const ScreenTable& table);
    void flowControl();
    void calibrate();
    void alarmAcknowledgment();
    void emailMessaging();
    // Polling goes on behind the viewer: it only shows what one read returned.
    void eventLog();
    void uploadSettings();
    // Download Settings: a settings file compared with the controller and written back, row by
    // row, where the user keeps the difference.
    void downloadSettings();
    // Service Report: its dialog, then the controller read with polling stopped (restarted
    // straight after), then the PDF; its panel of the bank the window shows (1 left, 2 right).
    void serviceReport(int selectedBank);

    // Tests: called on the report's worker after each log file is summarised.
    void setReportBuildHook(std::function<void(std::size_t done)> hook) {
        reportBuildHook_ = std::move(hook);
    }

    // The register blocks, kept for the whole run.
    BlockStore& blocks() { return session_.blocks(); }

  private:
    // The password dialog; true when a code was accepted.
    bool passwordGate();
    void restoreFrom(const std::string& path);
    // The visit's log files summarised on a worker behind a progress dialog with Cancel, the
    // window going on meanwhile. False with error, or with error empty when cancelled.
    bool summariseVisit(const ServiceReportRequest& request, OverviewSet& set, ReportLogs& logs,
                        std::string& error);

    SettingsSession session_;
    Prompts& prompts_;
    QPointer<QWidget> window_;
    std::function<void(std::size_t)> reportBuildHook_;
};

}  // namespace kvx
