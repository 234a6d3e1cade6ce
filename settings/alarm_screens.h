#pragma once
// The two alarm screens without a window: the e-mail enablers (ten toggles and the delay timer
// over block 130 x 12) and the alarm acknowledgment.
#include <array>
#include <cstdint>
#include <string>

#include "settings/register_screen.h"

namespace kvx {

struct EmailToggle {
    int buttonId;
    int reference;
    const char* label;
};
inline constexpr std::array<EmailToggle, 10> kEmailToggles = {{
    {1120, 130, "Low supply pressure"},
    {1110, 131, "High supply pressure"},
    {1111, 132, "Diesel flow below min"},
    {1112, 133, "Pressure transducer failed"},
    {1113, 134, "High substitution"},
    {1114, 135, "Low substitution"},
    {1115, 136, "Watt signalbelow 1st point"},
    {1040, 137, "Overspeed"},
    {1117, 138, "High exhaust temp"},
    {1118, 139, "High vibration"},
}};
inline constexpr BlockRange kEmailBlock{130, 12};
inline constexpr int kEmailDelayEditId = 1101;
inline constexpr int kEmailDelayReference = 140;
inline constexpr int kEmailMinFirmware = 107;
inline constexpr const char* kEmailTitle = "Configure Alarm Email Enablers";
inline constexpr const char* kEmailDelayLabel = "Alarm delay timer";

class EmailScreen {
  public:
    explicit EmailScreen(SettingsContext context);

    // The opening command's read: 0 or the link's result.
    int readBlock();
    // "Enabled" or "Disabled" for a toggle button.
    std::string caption(int buttonId) const;
    std::string delayText() const;
    // Flips the toggle in memory (non-zero -> 0, 0 -> 1); nothing is sent.
    void toggle(int buttonId);
    // Save && Close: the delay field into 140, the block written whole, then the save command
    // whatever the write returned. True when both succeeded. A delay that is not a whole
    // number 0..65535 is refused before anything is written (delayRefused()).
    bool saveAndClose(const std::string& delayText);
    const std::string& status() const { return status_; }
    bool delayRefused() const { return refused_; }
    std::int16_t value(int reference) const;

  private:
    SettingsContext ctx_;
    std::string status_;
    bool refused_ = false;
};

inline constexpr int kAckResultTextId = 1106;
inline constexpr const char* kAckTitle = "Aknowledge Alarm";

// Acknowledges and resets the controller's alarm: 1 to f_emerg_stop, 4660 to
// acknowledge_alarm, 0 to f_emerg_stop, all three always sent in this order. True when all
// succeeded.
bool acknowledgeAlarm(DeviceLink& link, int slave);

}  // namespace kvx
