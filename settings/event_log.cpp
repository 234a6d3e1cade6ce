#include "settings/event_log.h"

#include <cstdio>

#include "model/alarm_text.h"
#include "model/registers.h"

namespace kvx {

int readEventHistory(DeviceLink& link, int slave, EventWords& words) {
    words.fill(0);
    return link.readInputRegisters(slave, ref::eventHistory, words.data(), kEventWords);
}

std::array<EventRow, kEventRows> eventLogRows(const EventWords& words) {
    std::array<EventRow, kEventRows> rows;
    char buf[64];
    for (int n = 0; n < kEventRows; ++n) {
        const auto bits = [&](int k) { return static_cast<std::uint16_t>(words[k]); };
        const std::uint16_t t = bits(30 + n);
        std::snprintf(buf, sizeof buf, "%d:%d.%d", (t >> 9) & 0x1F, (t >> 3) & 0x3F, t & 7);
        EventRow& row = rows[static_cast<std::size_t>(n)];
        row.time = buf;
        row.event = formatEventText(bits(n));
        const std::uint16_t monthDay = bits(10 + 2 * n);
        std::snprintf(buf, sizeof buf, "%d/%d/%d", monthDay >> 8, monthDay & 0xFF,
                      static_cast<int>(words[11 + 2 * n]));
        row.date = buf;
    }
    return rows;
}

}  // namespace kvx
