#pragma once
// Line faults the simulator can put on its replies, scripted one by one or at random by rate.
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <string_view>
#include <vector>

namespace kvx::sim {

enum class FaultKind {
    none,
    noReply,        // the request goes unanswered
    badCrc,         // the reply's CRC is damaged
    wrongAddress,   // the reply comes from another slave address
    wrongFunction,  // the reply carries another function code
    exception,      // an exception reply (code settable)
    truncated,      // the reply stops halfway
    trailing,       // extra bytes follow the reply
    noise,          // garbage bytes come before the reply
    late,           // the reply comes after the master's time-out
    cablePulled,    // nothing answers for a while; what arrives is read and discarded
};
inline constexpr int kFaultKinds = 11;

struct FaultName {
    FaultKind kind;
    std::string_view name;
    std::string_view description;
};
// Every kind but none.
std::span<const FaultName> faultNames();
std::string_view faultName(FaultKind kind);
bool parseFaultKind(std::string_view name, FaultKind& out);
// "KIND" (every reply) or "KIND:RATE" with RATE a fraction in 0..1; false when malformed.
bool parseFaultOption(std::string_view option, FaultKind& kind, double& rate);
// "KIND:at=N": the N-th request (from 1) alone; false when malformed.
bool parseFaultAtOption(std::string_view option, FaultKind& kind, long& request);

struct FaultSettings {
    int exceptionCode = 4;     // slave device failure
    int lateDelayMs = 3500;    // beyond the viewer's 3000 ms reply time-out
    int cablePulledMs = 5000;  // how long a pulled cable stays out
};

class FaultInjector {
  public:
    explicit FaultInjector(std::uint32_t seed = 1);

    // Probability in 0..1 that a reply gets this fault (the rates of all kinds add up; the
    // kinds are tried in declaration order).
    void setRate(FaultKind kind, double rate);
    double rate(FaultKind kind) const { return rates_[static_cast<std::size_t>(kind)]; }
    // The next replies get these faults, in order, before any rate applies.
    void script(std::span<const FaultKind> kinds);
    // The reply to the request-th request (counted from 1) gets this fault, before anything
    // else applies. The request itself is carried out as usual.
    void faultAt(long request, FaultKind kind);
    void clear();

    FaultSettings& settings() { return settings_; }
    const FaultSettings& settings() const { return settings_; }

    // The fault for the next reply (FaultKind::none most of the time); counts what it picks.
    // request: the number of the request being answered, for faultAt (0: none).
    FaultKind next(long request = 0);

    // Changes reply (a complete, valid frame) as the fault does. Returns the extra delay in
    // milliseconds before it is sent. noReply and cablePulled leave an empty reply.
    int apply(FaultKind kind, std::vector<std::uint8_t>& reply);

    int injected() const { return injected_; }
    int injected(FaultKind kind) const { return counts_[static_cast<std::size_t>(kind)]; }

  private:
    std::uint64_t random();

    std::array<double, kFaultKinds> rates_{};
    std::array<int, kFaultKinds> counts_{};
    std::deque<FaultKind> script_;
    std::map<long, FaultKind> at_;
    FaultSettings settings_;
    std::uint64_t state_;
    int injected_ = 0;
};

}  // namespace kvx::sim
