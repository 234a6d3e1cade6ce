#pragma once
// The settings commands of the main window: stop polling, read the screen's blocks, ask for
// the access code where the command is guarded, run the screen, then reconnect. The screens
// and their blocks are the settings layer's; this is only the order of things.
#include <QPointer>
#include <QWidget>
#include <string>

#include "app/core/monitor_controller.h"
#include "app/core/monitor_host.h"
#include "app/core/program_settings.h"
#include "link/device_link.h"
#include "settings/calibration_editor.h"
#include "settings/register_block.h"
#include "settings/screen_table.h"
#include "settings/settings_context.h"
#include "settings/settings_file.h"
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

    // The register blocks, kept for the whole run.
    BlockStore& blocks() { return blocks_; }

  private:
    void stopPolling();
    void restartPolling();
    void reconnect();
    void noticeBox(const char* text);
    // The password dialog; true when a code was accepted.
    bool passwordGate();
    int firmware() const { return controller_.identity.version; }
    // What a settings command is handed: the link, the blocks, the address and firmware in use.
    SettingsContext context() { return {link_, blocks_, settings_.slaveId, firmware()}; }
    // The one place the window takes what a settings command changed: the slave address and
    // the panel's copies of the registers it shows.
    void follow(const SettingsOutcome& outcome);
    // For the commands that depend on the firmware version: false, with the not-connected box,
    // while no identity read has been answered.
    bool firmwareKnown();
    // The connection check of the guarded commands: references 1 to 40.
    bool connectionCheck();
    void restoreFrom(const std::string& path);
    // After a saved change of the slave address: offers to write the address in use into the
    // communication file, so that the next start polls where the controller now answers.
    void offerAddressForNextStart();

    DeviceLink& link_;
    Prompts& prompts_;
    MonitorHost& host_;
    ProgramSettings& settings_;
    MonitorController& controller_;
    QPointer<QWidget> window_;
    std::string programDir_;
    BlockStore blocks_;
    CalibrationState calibration_;
    SettingsImage settingsImage_{};
};

}  // namespace kvx
