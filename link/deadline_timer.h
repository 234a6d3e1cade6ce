#pragma once
// An absolute deadline in 100-nanosecond ticks, for the minimum spacing between requests.
#include <cstdint>

namespace kvx {

class DeadlineTimer {
  public:
    DeadlineTimer();  // deadline = now

    void setFromNow(std::int64_t milliseconds);
    // Sleeps until the deadline, rounded to the nearest millisecond; returns at once if passed.
    void wait() const;
    // What wait() would sleep now, in milliseconds.
    std::int64_t remainingMs() const;

    // The monotonic clock in ticks: a wall clock set back would stretch the wait by as much.
    static std::int64_t nowTicks();

  private:
    std::int64_t deadlineTicks;
};

}  // namespace kvx
