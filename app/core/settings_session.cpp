#include "app/core/settings_session.h"

#include <array>
#include <utility>

#include "resources/resource_ids.h"
#include "settings/settings_texts.h"

namespace kvx {

namespace t = settings_text;

SettingsSession::SettingsSession(DeviceLink& link, Prompts& prompts, MonitorHost& host,
                                 ProgramSettings& settings, MonitorController& controller,
                                 std::string programDir)
    : link_(link),
      prompts_(prompts),
      host_(host),
      settings_(settings),
      controller_(controller),
      programDir_(std::move(programDir)) {}

SettingsContext SettingsSession::context() {
    return {link_, blocks_, settings_.slaveId, firmware()};
}

void SettingsSession::follow(const SettingsOutcome& outcome) {
    if (outcome.slaveAddress) settings_.slaveId = *outcome.slaveAddress;
    const FollowedRanges& r = outcome.ranges;
    if (!r.exhaustTempAvgShutdownMax && !r.overspeed && !r.indicatorType) return;
    DisplayRanges ranges = controller_.state().ranges;
    if (r.exhaustTempAvgShutdownMax)
        ranges.exhaust_temp_avg_shutdown_max = *r.exhaustTempAvgShutdownMax;
    if (r.overspeed) ranges.overspeed = *r.overspeed;
    if (r.indicatorType) ranges.indicator_type = *r.indicatorType;
    controller_.followRanges(ranges);
}

void SettingsSession::stopPolling() {
    host_.killTimer(kTimerPoll);
}

void SettingsSession::restartPolling() {
    host_.armTimer(kTimerPoll, MonitorController::kPollMs);
}

void SettingsSession::reconnect() {
    host_.postCommand(res::kCmdDisconnect);
    host_.postCommand(res::kCmdConnect);
}

void SettingsSession::connect() {
    host_.postCommand(res::kCmdConnect);
}

void SettingsSession::noticeBox(const char* text) {
    prompts_.messageBox(text, t::kNotice, BoxIcon::Warning, BoxButtons::Ok, true);
}

bool SettingsSession::firmwareKnown() {
    if (identityKnown()) return true;
    // Judged by firmware 0, a screen would be refused or read the wrong blocks.
    noticeBox(t::kNotConnected);
    return false;
}

bool SettingsSession::connectionCheck() {
    std::array<std::int16_t, 40> regs{};
    return link_.readHoldingRegisters(settings_.slaveId, 1, regs.data(), 40) == 0;
}

bool SettingsSession::readEvents(EventWords& words) {
    if (readEventHistory(context(), words) == 0) return true;
    noticeBox(t::kCommTimeoutBox);
    return false;
}

bool SettingsSession::readForUpload() {
    // A backup judged by firmware 0 would read the wrong rows and name the wrong firmware.
    if (!connected() || !identityKnown()) {
        noticeBox(t::kNotConnected);
        return false;
    }
    stopPolling();
    if (readSettingsImage(context(), settingsImage_) == 0) return true;
    noticeBox(t::kUnableToRead);
    return false;
}

bool SettingsSession::readForRestore(const std::string& path, SettingsComparison& comparison) {
    SettingsFileContents file;
    SettingsFileError error;
    if (!readSettingsFile(path, file, error)) {
        prompts_.messageBox(restoreFileRefusal(path, error), t::kNotice, BoxIcon::Warning,
                            BoxButtons::Ok, true);
        return false;
    }
    stopPolling();
    if (readAndCompareSettings(context(), file, comparison) != 0) {
        noticeBox(t::kUnableToRead);
        return false;
    }
    if (!comparison.sameFirmware()) {
        prompts_.messageBox(restoreFirmwareRefusal(comparison), t::kNotice, BoxIcon::Warning,
                            BoxButtons::Ok, true);
        return false;
    }
    return true;
}

void SettingsSession::offerAddressForNextStart() {
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
