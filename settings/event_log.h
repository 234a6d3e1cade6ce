#pragma once
// The event log viewer's texts: the controller's last ten events (input registers 201..240)
// as rows of date, time and event text.
#include <array>
#include <cstdint>
#include <string>

#include "link/device_link.h"
#include "settings/settings_context.h"

namespace kvx {

inline constexpr int kEventRows = 10;
inline constexpr int kEventWords = 40;
inline constexpr const char* kEventLogTitle = "EVENT LOG";

struct EventRow {
    std::string date;   // "%d/%d/%d": month, day, year as stored
    std::string time;   // "%d:%d.%d": hour, minute, the three low bits
    std::string event;  // empty when no event bit is set
};

// Edit ids of row n (0-based) of the viewer.
constexpr int eventDateId(int row) {
    return 1054 + 3 * row;
}
constexpr int eventTimeId(int row) {
    return 1055 + 3 * row;
}
constexpr int eventTextId(int row) {
    return 1056 + 3 * row;
}

using EventWords = std::array<std::int16_t, kEventWords>;

// Reads the history with one request. 0 or the link's result.
int readEventHistory(DeviceLink& link, int slave, EventWords& words);
inline int readEventHistory(const SettingsContext& context, EventWords& words) {
    return readEventHistory(context.link, context.slave, words);
}
std::array<EventRow, kEventRows> eventLogRows(const EventWords& words);

}  // namespace kvx
