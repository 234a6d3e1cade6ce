#pragma once
// The simulated controller's inside: its holding registers, the live input registers of a
// running dual-fuel engine, the event history, its commands and scenarios. Pure: time comes in
// as milliseconds since the controller powered up, and everything that moves is a function of
// the seed and that time (and of the writes made along the way).
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "sim/event_history.h"
#include "sim/register_map.h"
#include "sim/scenario.h"

namespace kvx::sim {

struct EngineConfig {
    int firmware = kDefaultFirmware;  // version x 100
    int slave = 1;                    // 1..247
    std::uint32_t seed = 1;
    Scenario scenario = Scenario::normal;
    int serialNumber = 2417;
    // Local calendar time at power up, seconds since 1970 (2026-01-01 08:00 by default).
    std::int64_t startTime = 1767254400;
    // When the scenario's trouble first starts, how long each episode lasts, and how often it
    // comes back.
    int scenarioOnsetMs = 45000;
    int scenarioDurationMs = 30000;
    int scenarioPeriodMs = 180000;
    // Holding registers to start from instead of the factory settings (reference, value);
    // firmware, serial number and slave address above still decide the identity.
    std::vector<std::pair<int, std::int16_t>> startHolding;
};

// Modbus exception codes a register access can end with.
inline constexpr int kIllegalFunction = 1;
inline constexpr int kIllegalAddress = 2;
inline constexpr int kIllegalValue = 3;

class ControllerEngine {
  public:
    static constexpr int kStepMs = 100;  // the engine model moves in steps of this length
    static constexpr int kInputRefs = kEventFirstRef + kEventCount;  // 1..240

    explicit ControllerEngine(const EngineConfig& config = EngineConfig{});

    const EngineConfig& config() const { return config_; }
    int firmware() const { return config_.firmware; }
    // The address it answers to: modbus_address, which a write may change.
    int slaveAddress() const { return holding_[3]; }

    // Brings the live values up to elapsedMs (never backwards).
    void advanceTo(std::int64_t elapsedMs);
    std::int64_t elapsedMs() const { return stepIndex_ * kStepMs; }

    // Register access as a Modbus request makes it, at elapsedMs. 0, or the exception code:
    // 2 for references outside the firmware's map or not writable, 3 for a value the
    // controller refuses. A refused write changes nothing.
    int readHolding(int firstRef, int count, std::int16_t* out, std::int64_t elapsedMs);
    int readInput(int firstRef, int count, std::int16_t* out, std::int64_t elapsedMs);
    int writeHolding(int firstRef, const std::int16_t* values, int count, std::int64_t elapsedMs);

    // Current contents, for tests and for the program's own display (0 outside the map).
    std::int16_t holding(int ref) const;
    std::int16_t input(int ref) const;

    std::uint16_t alarmWord() const { return alarmWord_; }
    bool gasOn() const { return gasOn_; }
    int saveCount() const { return saves_; }
    int acknowledgeCount() const { return acknowledges_; }
    const EventHistory& events() const { return events_; }

  private:
    void step();
    void publish();
    void raiseAlarm(std::uint16_t bit);
    void applyCommands(int firstRef, int count);
    bool episodeActive(std::int64_t ms, std::int64_t* intoEpisodeMs) const;
    double noise(int channel) const;
    // The controller's local clock, which writing its clock registers sets.
    std::int64_t now() const { return config_.startTime + clockOffset_ + elapsedMs() / 1000; }
    int setClock(int firstRef, const std::int16_t* values, int count, bool apply);
    int holdingValue(int ref) const { return holding_[static_cast<std::size_t>(ref - 1)]; }

    EngineConfig config_;
    std::array<std::int16_t, kHoldingCount> holding_{};
    std::array<std::int16_t, kInputRefs + 1> input_{};  // indexed by reference
    EventHistory events_;

    std::int64_t stepIndex_ = 0;
    std::int64_t clockOffset_ = 0;
    // Engine model state, in engineering units.
    double speed_ = 0, loadFraction_ = 0, loadKw10_ = 0;
    double substitution_ = 0;  // % x 10
    double dieselFull10_ = 0, diesel10_ = 0, gasFlow10_ = 0;
    double pressureSp_ = 0, feedbackLeft_ = 0, feedbackRight_ = 0;
    double feedbackLeftShown_ = 0, feedbackRightShown_ = 0;
    double actuatorLeft_ = 0, actuatorRight_ = 0;
    double exhaust_ = 60, exhaustAvg_ = 60;
    double vibration_ = 0, vibrationAvg_ = 0, vibrationMax_ = 0;
    double supplyPsi10_ = 50;
    bool gasOn_ = false;
    std::int64_t gasArmMs_ = 15000;  // gas may come on from this time
    bool localShutoff_ = false, extShutoffOk_ = true, ecuLost_ = false;
    int ecuErrors_ = 0;
    std::uint16_t alarmWord_ = 0;
    int alarmCount_ = 0;
    int exhaustOverMs_ = 0, vibrationOverMs_ = 0, lowSupplyMs_ = 0;
    int runMs_ = 0;  // run time not yet counted into min_meter
    int saves_ = 0, acknowledges_ = 0;
};

}  // namespace kvx::sim
