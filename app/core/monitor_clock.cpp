#include "app/core/monitor_clock.h"

#include <sys/time.h>

#include <ctime>

#include "log/log_clock.h"

namespace kvx {

namespace {

LocalTimeMs localNow() {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    LocalTimeMs out;
    LocalDateTime local;
    if (!localDateTime(tv.tv_sec, local)) return out;
    out.year = local.year;
    out.month = local.month;
    out.day = local.day;
    out.hour = local.hour;
    out.minute = local.minute;
    out.second = local.second;
    out.millisecond = static_cast<int>(tv.tv_usec / 1000);
    return out;
}

}  // namespace

MonitorClock systemMonitorClock() {
    return {[] { return static_cast<std::int64_t>(std::time(nullptr)); }, localNow};
}

}  // namespace kvx
