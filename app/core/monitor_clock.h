#pragma once
// The two clocks of the poll cycle: calendar seconds for log records and local time with
// milliseconds for the log clock. Passed in so tests can pick any moment.
#include <cstdint>
#include <functional>

namespace kvx {

struct LocalTimeMs {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

struct MonitorClock {
    std::function<std::int64_t()> calendarSeconds;
    std::function<LocalTimeMs()> localTime;
};

MonitorClock systemMonitorClock();

}  // namespace kvx
