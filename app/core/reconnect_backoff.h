#pragma once
// The pauses between tries of a connection that keeps failing: 2, 4, 8, ... seconds, never
// more than a minute, for as long as it takes. A success starts the count again.
namespace kvx {

class ReconnectBackoff {
  public:
    static constexpr int kFirstSeconds = 2;
    static constexpr int kMostSeconds = 60;

    // The pause before the next try, in seconds; each call doubles the one after.
    int next() {
        const int pause = pause_;
        pause_ = pause_ >= kMostSeconds / 2 ? kMostSeconds : pause_ * 2;
        ++failures_;
        return pause;
    }
    void reset() {
        pause_ = kFirstSeconds;
        failures_ = 0;
    }
    // Tries that failed since the last success.
    int failures() const { return failures_; }

  private:
    int pause_ = kFirstSeconds;
    int failures_ = 0;
};

}  // namespace kvx
