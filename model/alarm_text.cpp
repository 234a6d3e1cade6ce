#include "model/alarm_text.h"

#include <cstdio>

namespace kvx {
namespace {

struct AlarmBit {
    int bit;
    const char* statusFragment;  // nullptr: not part of the alarm status
    const char* eventText;       // nullptr: not an event
};

// The order in which both texts are assembled.
constexpr AlarmBit kAlarmBits[] = {
    {0, " Low supply pressure ! ", " Low supply pressure "},
    {9, " Load below 1st point ! ", " Load below 1st point "},
    {2, " High substitution rate ! ", " High subsitution rate "},
    {3, " Below substitution limit ! ", " Below subsitution limit "},
    {4, " High exhaust temp ! ", " High exhaust temp "},
    {5, " Overspeed ! ", " Overspeed "},
    {6, " Diesel below minimum ! ", " Diesel below minimum "},
    {7, " High vibration ! ", " High vibration "},
    {8, " High Supply Pressure ! ", " High supply pressure "},
    {1, " Press Xducer Failed ! ", " Press xducer failed "},
    {10, " Low battery volatge ! ", " Low battery volatge "},
    {11, nullptr, " Power up "},
    {12, nullptr, " Local shutoff "},
    {13, nullptr, " External shutoff "},
    {14, nullptr, " Gas ON "},
    {15, " Low RPM !", nullptr},
};

constexpr bool isSet(int flags, int bit) {
    return ((flags >> bit) & 1) != 0;
}

}  // namespace

std::string formatAlarmStatus(int flags) {
    std::string body;
    if ((flags & 0xFFFF) == 0) {
        body = " Normal operation ! ";
    } else {
        for (const AlarmBit& a : kAlarmBits) {
            if (a.statusFragment != nullptr && isSet(flags, a.bit)) body += a.statusFragment;
        }
    }
    return "Alarm Status: " + body;
}

std::string formatEventText(int flags) {
    std::string text;
    for (const AlarmBit& a : kAlarmBits) {
        if (a.eventText == nullptr || !isSet(flags, a.bit)) continue;
        // Diesel below minimum is reported beside the event before it; every other event
        // stands alone, so a later bit wins.
        if (a.bit == 6) {
            text += a.eventText;
        } else {
            text = a.eventText;
        }
    }
    return text;
}

std::string modeText(int code) {
    switch (code) {
        case -4:
            return "MODE: CAN Rx Error";
        case -3:
            return "MODE: Press Xducer failed";
        case -2:
            return "MODE: POST-CAT OVERTEMP";
        case -1:
            return "MODE: PRE-CAT OVERTEMP";
        case 0:
            return "MODE: NOT AVAIL";
        case 1:
            return "MODE: DEFAULT";
        case 2:
            return "MODE: A/F CONTROL";
        default:
            break;
    }
    // A code this program does not know (newer firmware, or a garbled register): show it
    // rather than hide it.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "MODE: UNKNOWN (%d)", code);
    return buffer;
}

std::string shutoffSwitchText(const LiveData& live, const LiveStatus& status) {
    const bool local = live.local_shutoff != 0;
    const bool external = status.extShutoffOk == 0;
    if (external && local) {
        return "Alarm Status: Local Shutoff Switch ! External Shutoff Switch !";
    }
    if (local) return "Alarm Status: Local Shutoff Switch !";
    if (external) return "Alarm Status: External Shutoff Switch !";
    return {};
}

std::string alarmStatusLine(const LiveData& live, const LiveStatus& status) {
    std::string text = shutoffSwitchText(live, status);
    return text.empty() ? formatAlarmStatus(live.alarm_flags) : text;
}

bool isReady(const LiveData& live, const LiveStatus& status) {
    return live.local_shutoff == 0 && status.pollOk != 0 && status.extShutoffOk != 0 &&
           live.alarm_flags == 0;
}

}  // namespace kvx
