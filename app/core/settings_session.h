#pragma once
// The settings commands' steps that need no window: polling stopped and brought back, the
// checks that a controller answers, the context a screen is handed and what the viewer follows
// afterwards, the restore's reading and comparing before anything is shown, and the offer to
// keep a moved slave address for the next start. The window's commands (app/settings_commands)
// put the dialogs between these steps; a program without a window can take the same steps.
#include <string>

#include "app/core/monitor_controller.h"
#include "app/core/monitor_host.h"
#include "app/core/program_settings.h"
#include "link/device_link.h"
#include "settings/calibration_editor.h"
#include "settings/event_log.h"
#include "settings/register_block.h"
#include "settings/settings_context.h"
#include "settings/settings_file.h"
#include "settings/settings_restore.h"
#include "ui/prompts.h"

namespace kvx {

class SettingsSession {
  public:
    SettingsSession(DeviceLink& link, Prompts& prompts, MonitorHost& host,
                    ProgramSettings& settings, MonitorController& controller,
                    std::string programDir);

    // What a settings command is handed: the link, the blocks, the address and firmware in use.
    SettingsContext context();
    // The one place the viewer takes what a settings command changed: the slave address and
    // the panel's copies of the registers it shows.
    void follow(const SettingsOutcome& outcome);

    void stopPolling();
    void restartPolling();
    // Disconnect, then connect: polling comes back with fresh connection values.
    void reconnect();
    // Connect alone, for the commands that leave the connection as it was.
    void connect();
    // The not-connected kind of box: a warning, owned by the window.
    void noticeBox(const char* text);

    int firmware() const { return controller_.state().identity.version; }
    // Whether a connection is up and its identity read has been answered.
    bool connected() const { return controller_.state().connected; }
    bool identityKnown() const { return controller_.state().identityRead; }
    // The panel's scales as the window shows them.
    const DisplayRanges& ranges() const { return controller_.state().ranges; }
    // For the commands that depend on the firmware version: false, with the not-connected box,
    // while no identity read has been answered.
    bool firmwareKnown();
    // The connection check of the guarded commands: references 1 to 40.
    bool connectionCheck();

    // Event Log's read; false, with the time-out box, when it failed.
    bool readEvents(EventWords& words);
    // Upload's read into settingsImage(): polling stopped, then the image for the firmware.
    // False, with the not-connected or the unable-to-read box, when there is nothing to upload.
    bool readForUpload();
    // Download's steps before its dialog: the file read (refused with its line and reason),
    // polling stopped, the controller read and compared, another firmware's file refused.
    // False, with the box that says why, when no dialog may open.
    bool readForRestore(const std::string& path, SettingsComparison& comparison);
    // After a saved change of the slave address: offers to write the address in use into the
    // communication file, so that the next start polls where the controller now answers.
    void offerAddressForNextStart();

    Prompts& prompts() { return prompts_; }
    const std::string& programDir() const { return programDir_; }
    // The register blocks, kept for the whole run.
    BlockStore& blocks() { return blocks_; }
    CalibrationState& calibration() { return calibration_; }
    const SettingsImage& settingsImage() const { return settingsImage_; }

  private:
    DeviceLink& link_;
    Prompts& prompts_;
    MonitorHost& host_;
    ProgramSettings& settings_;
    MonitorController& controller_;
    std::string programDir_;
    BlockStore blocks_;
    CalibrationState calibration_;
    SettingsImage settingsImage_{};
};

}  // namespace kvx
