#pragma once
// When the agent sends again what the archive has not acknowledged although it was published:
// the archive's `through` standing still behind the highest number published. A broker or an
// archive that is merely slow also stands still now and then (a broker saving a large queue
// holds every acknowledgement for a while); each resend then adds the whole stretch in flight
// to the queue once more and slows it further. So the pause before a resend doubles with every
// resend and starts short again only once the archive has caught up with what was published,
// not at every step it takes while still behind.
#include <algorithm>
#include <chrono>
#include <cstdint>

namespace kvx::agent {

class ResendPacer {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFirstPauseSeconds = 10;
    static constexpr int kLongestPauseSeconds = 3600;

    explicit ResendPacer(std::uint64_t through = 0, Clock::time_point now = Clock::now())
        : through_(through), movedAt_(now) {}

    // Every round of the agent's loop: where the archive stands and the highest number
    // published.
    void observe(std::uint64_t through, std::uint64_t publishedHigh, Clock::time_point now) {
        if (through != through_) {
            through_ = through;
            movedAt_ = now;
        }
        behind_ = through < publishedHigh;
        if (!behind_) pauseSeconds_ = kFirstPauseSeconds;
    }

    // True when the archive has stood still behind what was published for the pause.
    bool due(Clock::time_point now) const {
        return behind_ && now - movedAt_ >= std::chrono::seconds(pauseSeconds_);
    }

    // A resend has started: the pause counts from now, and after one for standing still the
    // next pause is twice as long.
    void resent(Clock::time_point now, bool forStandingStill) {
        movedAt_ = now;
        if (forStandingStill) pauseSeconds_ = std::min(pauseSeconds_ * 2, kLongestPauseSeconds);
    }

    int pauseSeconds() const { return pauseSeconds_; }

  private:
    std::uint64_t through_;
    Clock::time_point movedAt_;
    bool behind_ = false;
    int pauseSeconds_ = kFirstPauseSeconds;
};

}  // namespace kvx::agent
