#include "app/core/window_texts.h"

#include <charconv>
#include <cmath>

namespace kvx {

std::string fixed2(double value) {
    char buf[64];
    if (!std::isfinite(value)) value = 0.0;
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
    return std::string(buf, r.ptr);
}

std::string startTitle() {
    return "Orvik Dravo Viewer V." + fixed2(kProgramVersion) + " ";
}

std::string firmwareTitle(int firmwareVersion) {
    return "Orvik Dravo Viewer v." + fixed2(kProgramVersion) + "  ___  Firmware v. " +
           fixed2(firmwareVersion / 100.0) + " ";
}

std::string commStatusText(int commStatus) {
    switch (commStatus) {
        case -1:
            return "Communication Status: Waiting for data";
        case 0:
            return "Communication Status: Receiving data";
        case kCommStatusPlayback:
            return "Communication Status: Playback Mode";
        default:
            return "Communication Status: Time-out";
    }
}

std::string serialNumberText(int serialNumber) {
    return " Orvik Dravo Serial Nr: " + std::to_string(serialNumber);
}

std::string remoteTitle(int firmwareVersion, const std::string& unit) {
    return firmwareTitle(firmwareVersion) + " ___  " + unit + " from the broker";
}

std::string remoteUnitText(const std::string& unit) {
    return " Unit: " + unit;
}

std::string remoteUnitNote(const std::string& state, const std::string& reason) {
    std::string text = "Broker: " + state;
    if (!reason.empty()) text += " (" + reason + ')';
    return text;
}

std::string indicatorText(int indicatorType) {
    return " Indicator: " + std::to_string(indicatorType);
}

}  // namespace kvx
