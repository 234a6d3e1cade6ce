#include "app/settings_commands.h"

#include <algorithm>
#include <array>

#include "model/registers.h"
#include "resources/resource_ids.h"
#include "settings/alarm_dialogs.h"
#include "settings/calibration_dialog.h"
#include "settings/event_log_dialog.h"
#include "settings/flow_control_dialog.h"
#include "settings/password_dialog.h"
#include "settings/register_screen_dialog.h"
#include "settings/restore_dialog.h"
#include "settings/settings_texts.h"
#include "settings/upload_dialog.h"

namespace kvx {

namespace t = settings_text;

SettingsCommands::SettingsCommands(DeviceLink& link, Prompts& prompts, MonitorHost& host,
                                   ProgramSettings& settings, MonitorController& controller,
                                   QWidget* window, std::string programDir)
    : link_(link),
      prompts_(prompts),
      host_(host),
      settings_(settings),
      controller_(controller),
      window_(window),
      programDir_(std::move(programDir)) {}

void SettingsCommands::stopPolling() {
    host_.killTimer(kTimerPoll);
}

void SettingsCommands::restartPolling() {
    host_.armTimer(kTimerPoll, MonitorController::kPollMs);
}

void SettingsCommands::reconnect() {
    host_.postCommand(res::kCmdDisconnect);
    host_.postCommand(res::kCmdConnect);
}

void SettingsCommands::follow(const SettingsOutcome& outcome) {
    if (outcome.slaveAddress) settings_.slaveId = *outcome.slaveAddress;
    const FollowedRanges& r = outcome.ranges;
    if (r.exhaustTempAvgShutdownMax)
        controller_.ranges.exhaust_temp_avg_shutdown_max = *r.exhaustTempAvgShutdownMax;
    if (r.overspeed) controller_.ranges.overspeed = *r.overspeed;
    if (r.indicatorType) controller_.ranges.indicator_type = *r.indicatorType;
}

void SettingsCommands::noticeBox(const char* text) {
    prompts_.messageBox(text, t::kNotice, BoxIcon::Warning, BoxButtons::Ok, true);
}

bool SettingsCommands::passwordGate() {
    PasswordDialog dialog(prompts_, window_);
    dialog.exec();
    return dialog.passwordAccepted();
}

bool SettingsCommands::firmwareKnown() {
    if (controller_.identityRead) return true;
    // Judged by firmware 0, a screen would be refused or read the wrong blocks.
    noticeBox(t::kNotConnected);
    return false;
}

bool SettingsCommands::connectionCheck() {
    std::array<std::int16_t, 40> regs{};
    return link_.readHoldingRegisters(settings_.slaveId, 1, regs.data(), 40) == 0;
}

void SettingsCommands::registerScreen(const ScreenTable& table) {
    stopPolling();
    RegisterScreen screen(table, context());
    if (screen.readBlocks() != 0) {
        noticeBox(table.readFailure);
        return;  // polling stays stopped until the user connects again
    }
    RegisterScreenDialog dialog(
        screen, [this] { restartPolling(); }, window_);
    const int result = dialog.exec();
    follow(screen.toFollow());
    if (result == kCloseResult) reconnect();
}

void SettingsCommands::flowControl() {
    if (!firmwareKnown()) return;
    // Older controllers do not have the flow-control registers: writing them would reach
    // whatever those references hold there.
    if (firmware() < kFlowControlMinFirmware) {
        noticeBox(t::kFlowNotSupported);
        return;
    }
    stopPolling();
    FlowControlScreen screen(context());
    screen.readBlocks();  // the screen opens whatever they return, and says which failed
    {
        FlowControlDialog dialog(
            screen, [this] { restartPolling(); }, window_);
        dialog.exec();
    }
    reconnect();
}

void SettingsCommands::calibrate() {
    if (!firmwareKnown()) return;
    stopPolling();
    CalibrationEditor editor(context(), calibration_);
    if (editor.checkConnection() != 0) {
        noticeBox(t::kCalibrateCheckFailed);
        return;
    }
    if (!passwordGate()) return;
    stopPolling();
    editor.readBlocks();  // the editor opens whatever they return, and says which failed
    int result = 0;
    bool saved = false;
    {
        CalibrationDialog dialog(editor, window_);
        result = dialog.exec();
        saved = dialog.saved();
    }
    follow(editor.toFollow());
    if (result == CalibrationDialog::kResultSaveFailed)
        prompts_.messageBox(t::kCalibrateSaveFailed, t::kNotice, BoxIcon::None, BoxButtons::Ok,
                            false);
    else if (saved)
        offerAddressForNextStart();
    reconnect();
}

void SettingsCommands::alarmAcknowledgment() {
    stopPolling();
    if (!connectionCheck()) {
        prompts_.messageBox(t::kNotConnected, "", BoxIcon::None, BoxButtons::Ok, false);
    } else if (passwordGate()) {
        AcknowledgeDialog dialog(context(), window_);
        dialog.exec();
    }
    host_.postCommand(res::kCmdConnect);
}

void SettingsCommands::emailMessaging() {
    if (!firmwareKnown()) return;
    if (firmware() < kEmailMinFirmware) {
        noticeBox(t::kFeatureNotSupported);
        return;  // polling goes on
    }
    stopPolling();
    EmailScreen screen(context());
    if (screen.readBlock() != 0) {
        noticeBox(t::kCommTimeoutBox);
        return;
    }
    if (!passwordGate()) return;
    {
        EmailDialog dialog(
            screen, [this] { restartPolling(); }, window_);
        dialog.exec();
    }
    reconnect();
}

void SettingsCommands::eventLog() {
    EventWords words{};
    if (readEventHistory(context(), words) != 0) {
        noticeBox(t::kCommTimeoutBox);
        return;
    }
    EventLogDialog dialog(words, window_);
    dialog.exec();
}

void SettingsCommands::uploadSettings() {
    // A backup judged by firmware 0 would read the wrong rows and name the wrong firmware.
    if (!controller_.connected || !controller_.identityRead) {
        noticeBox(t::kNotConnected);
    } else {
        stopPolling();
        if (readSettingsImage(context(), settingsImage_) != 0) {
            noticeBox(t::kUnableToRead);
        } else {
            UploadDialog dialog(settingsImage_, firmware(), prompts_, programDir_, window_);
            dialog.exec();
        }
    }
    host_.postCommand(res::kCmdConnect);
}

void SettingsCommands::downloadSettings() {
    if (!controller_.connected) {
        noticeBox(t::kNotConnected);
        host_.postCommand(res::kCmdConnect);
        return;
    }
    stopPolling();
    // Whatever happens from here, polling comes back with fresh connection values: a restore
    // may have moved the slave address or changed what the panel shows.
    if (!connectionCheck()) {
        noticeBox(t::kNotConnected);
    } else if (passwordGate()) {
        const std::string path = prompts_.openFileName(restoreFileRequest(programDir_));
        if (!path.empty()) restoreFrom(path);
    }
    reconnect();
}

void SettingsCommands::restoreFrom(const std::string& path) {
    SettingsFileContents file;
    SettingsFileError error;
    if (!readSettingsFile(path, file, error)) {
        prompts_.messageBox(restoreFileRefusal(path, error), t::kNotice, BoxIcon::Warning,
                            BoxButtons::Ok, true);
        return;
    }
    stopPolling();
    SettingsComparison comparison;
    if (readAndCompareSettings(context(), file, comparison) != 0) {
        noticeBox(t::kUnableToRead);
        return;
    }
    if (!comparison.sameFirmware()) {
        prompts_.messageBox(restoreFirmwareRefusal(comparison), t::kNotice, BoxIcon::Warning,
                            BoxButtons::Ok, true);
        return;
    }
    RestoreDialog dialog(comparison, path, context(), prompts_, window_);
    dialog.exec();
    follow(dialog.toFollow());
    const auto& written = dialog.outcome().written;
    if (dialog.saved() &&
        std::find(written.begin(), written.end(), ref::modbus_address) != written.end())
        offerAddressForNextStart();
}

void SettingsCommands::offerAddressForNextStart() {
    // What the next start reads: the file over the built-in defaults.
    ProgramSettings onFile;
    readCommFile(programDir_, onFile);
    if (onFile.slaveId == settings_.slaveId) return;
    const std::string now = std::to_string(settings_.slaveId);
    const std::string text = "The controller now answers at slave address " + now + ", but " +
                             kCommFileName + " holds " + std::to_string(onFile.slaveId) +
                             ", so the next start would poll that.\n\n" + "Write address " + now +
                             " into " + kCommFileName + "?";
    if (prompts_.messageBox(text, t::kNotice, BoxIcon::Question, BoxButtons::YesNoDefaultNo,
                            true) != kAnswerYes)
        return;
    const int before = onFile.slaveId;
    onFile.slaveId = settings_.slaveId;
    if (!writeCommFile(programDir_, onFile)) {
        prompts_.messageBox(std::string("Failed to write ") + kCommFileName +
                                ": the next start polls slave address " + std::to_string(before) +
                                ".",
                            t::kNotice, BoxIcon::Warning, BoxButtons::Ok, true);
    }
}

}  // namespace kvx
