#include "app/monitor_clock.h"

#include <sys/time.h>

#include <ctime>

namespace kvx {

namespace {

LocalTimeMs localNow() {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    const std::time_t t = tv.tv_sec;
    std::tm tm{};
    LocalTimeMs out;
    if (!::localtime_r(&t, &tm)) return out;
    out.year = tm.tm_year + 1900;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    out.millisecond = static_cast<int>(tv.tv_usec / 1000);
    return out;
}

}  // namespace

MonitorClock systemMonitorClock() {
    return {[] { return static_cast<std::int64_t>(std::time(nullptr)); }, localNow};
}

}  // namespace kvx
