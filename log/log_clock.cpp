#include "log/log_clock.h"

#include <ctime>

namespace kvx {

bool localDateTime(std::int64_t calendarTime, LocalDateTime& out) {
    const std::time_t t = static_cast<std::time_t>(calendarTime);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) return false;
    out.year = tm.tm_year + 1900;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    out.utcOffset = tm.tm_gmtoff;
    out.calendarTime = calendarTime;
    return true;
}

LocalDateTime currentLocalDateTime() {
    LocalDateTime now;
    localDateTime(static_cast<std::int64_t>(std::time(nullptr)), now);
    return now;
}

}  // namespace kvx
