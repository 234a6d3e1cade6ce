#include "link/deadline_timer.h"

#include <time.h>

#include <algorithm>
#include <cerrno>

namespace kvx {
namespace {

constexpr std::int64_t kTicksPerMs = 10000;
constexpr std::int64_t kLongestSleepMs = 3600000;

void sleepMs(std::int64_t ms) {
    timespec rest{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

}  // namespace

DeadlineTimer::DeadlineTimer() : deadlineTicks(nowTicks()) {}

std::int64_t DeadlineTimer::nowTicks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

void DeadlineTimer::setFromNow(std::int64_t milliseconds) {
    deadlineTicks = nowTicks() + milliseconds * kTicksPerMs;
}

std::int64_t DeadlineTimer::remainingMs() const {
    const std::int64_t ticks = std::max<std::int64_t>(0, deadlineTicks - nowTicks());
    return (ticks + kTicksPerMs / 2) / kTicksPerMs;
}

void DeadlineTimer::wait() const {
    std::int64_t ms = remainingMs();
    while (ms > kLongestSleepMs) {
        sleepMs(kLongestSleepMs);
        ms -= kLongestSleepMs;
    }
    if (ms > 0) sleepMs(ms);
}

}  // namespace kvx
