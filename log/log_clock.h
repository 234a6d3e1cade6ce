#pragma once
// Local date and time for the log: file names follow the local clock hour, record times are
// calendar seconds. The clock is passed in so that tests can pick any moment.
#include <cstdint>
#include <functional>

namespace kvx {

struct LocalDateTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0;
    int second = 0;
    long utcOffset = 0;             // seconds east of UTC in effect at that moment
    std::int64_t calendarTime = 0;  // seconds since 1970-01-01 00:00:00 UTC
};

using LocalClock = std::function<LocalDateTime()>;

// Breaks calendarTime down in the process's time zone (TZ). False if it cannot be represented.
bool localDateTime(std::int64_t calendarTime, LocalDateTime& out);

// The system clock, in local time.
LocalDateTime currentLocalDateTime();

}  // namespace kvx
