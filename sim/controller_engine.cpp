#include "sim/controller_engine.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kvx::sim {
namespace {

constexpr double kDt = ControllerEngine::kStepMs / 1000.0;
constexpr double kRatedRpm = 1800.0;
constexpr std::uint16_t kCommandWord = 0x1234;

// Event and alarm bits.
constexpr std::uint16_t kLowSupply = 0x0001;
constexpr std::uint16_t kHighExhaust = 0x0010;
constexpr std::uint16_t kOverspeed = 0x0020;
constexpr std::uint16_t kHighVibration = 0x0080;
constexpr std::uint16_t kPowerUp = 0x0800;
constexpr std::uint16_t kLocalShutoff = 0x1000;
constexpr std::uint16_t kExternalShutoff = 0x2000;
constexpr std::uint16_t kGasOn = 0x4000;

// Holding references the model reads or acts on.
enum Ref : int {
    kModbusAddress = 4,
    kSaveData = 7,
    kMinMeter = 9,
    kHourMeter = 10,
    kAlarmSaved = 17,
    kLoadMin = 23,
    kLoadMax = 24,
    kSubstMin = 32,
    kSubstMax = 33,
    kEmergStop = 34,
    kLoadSp0 = 41,
    kPressureSp0 = 51,
    kSubstLoad0 = 61,
    kSubstDiesel0 = 65,
    kAcknowledge = 69,
    kExhaustShutdownOn = 75,
    kExhaustMax = 77,
    kExhaustDelay = 78,
    kVibrationShutdownOn = 79,
    kVibrationMax = 81,
    kVibrationDelay = 82,
    kOverspeedRpm = 92,
    kFlowSetpoint = 104,
    kGasBtu = 151,
    kRtcMin = 152,
    kMinSubstRpm = 174,
};

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

std::int16_t clamp16(double v) {
    if (!(v == v)) return 0;
    return static_cast<std::int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

double smoothstep(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

double lag(double value, double target, double tauSeconds) {
    return value + (target - value) * std::min(1.0, kDt / tauSeconds);
}

// Piecewise linear through (xs[i], ys[i]); flat beyond the ends. Points out of order (a
// technician's typing) are skipped rather than divided by.
double interpolate(const std::int16_t* xs, const std::int16_t* ys, int n, double x) {
    if (x <= xs[0]) return ys[0];
    for (int i = 0; i + 1 < n; ++i) {
        const double x0 = xs[i], x1 = xs[i + 1];
        if (x1 <= x0) continue;
        if (x <= x1) return ys[i] + (ys[i + 1] - ys[i]) * (x - x0) / (x1 - x0);
    }
    return ys[n - 1];
}

}  // namespace

ControllerEngine::ControllerEngine(const EngineConfig& config) : config_(config) {
    if (!isSupportedFirmware(config_.firmware)) config_.firmware = kDefaultFirmware;
    if (config_.slave < 1 || config_.slave > 247) config_.slave = 1;
    config_.scenarioDurationMs = std::max(config_.scenarioDurationMs, kStepMs);
    config_.scenarioPeriodMs = std::max(config_.scenarioPeriodMs, config_.scenarioDurationMs);
    holding_ = defaultHoldingRegisters();
    for (const auto& [ref, value] : config_.startHolding)
        if (ref >= 1 && ref <= holdingTop(config_.firmware))
            holding_[static_cast<std::size_t>(ref - 1)] = value;
    holding_[1] = static_cast<std::int16_t>(config_.firmware);
    holding_[2] = static_cast<std::int16_t>(config_.serialNumber);
    holding_[3] = static_cast<std::int16_t>(config_.slave);
    events_ = EventHistory::story(config_.startTime);
    events_.push(kPowerUp, config_.startTime);
    publish();
}

double ControllerEngine::noise(int channel) const {
    const std::uint64_t h = mix(mix(config_.seed) ^ mix(static_cast<std::uint64_t>(stepIndex_)) ^
                                (static_cast<std::uint64_t>(channel) << 56));
    return static_cast<double>(h >> 11) / 9007199254740992.0 * 2.0 - 1.0;  // -1 .. 1
}

bool ControllerEngine::episodeActive(std::int64_t ms, std::int64_t* intoEpisodeMs) const {
    if (config_.scenario == Scenario::normal || ms < config_.scenarioOnsetMs) return false;
    const std::int64_t into = (ms - config_.scenarioOnsetMs) % config_.scenarioPeriodMs;
    if (intoEpisodeMs) *intoEpisodeMs = into;
    return into < config_.scenarioDurationMs;
}

void ControllerEngine::advanceTo(std::int64_t elapsedMs) {
    const std::int64_t target = elapsedMs / kStepMs;
    if (target <= stepIndex_) return;
    while (stepIndex_ < target) {
        ++stepIndex_;
        step();
    }
    publish();
}

void ControllerEngine::raiseAlarm(std::uint16_t bit) {
    if (alarmWord_ & bit) return;
    alarmWord_ |= bit;
    ++alarmCount_;
    holding_[kAlarmSaved - 1] = static_cast<std::int16_t>(alarmWord_);
    events_.push(bit, now());
}

void ControllerEngine::step() {
    const std::int64_t ms = elapsedMs();
    const double t = static_cast<double>(ms) / 1000.0;
    std::int64_t into = 0;
    const bool episode = episodeActive(ms, &into);
    const double te = static_cast<double>(into) / 1000.0;
    const Scenario sc = config_.scenario;

    // Load: idle while the engine comes up, then a slow duty cycle with a faster swing on top.
    const double cycle = 0.6 + 0.25 * std::sin(2 * std::numbers::pi * t / 180.0) +
                         0.05 * std::sin(2 * std::numbers::pi * t / 37.0) + 0.01 * noise(1);
    loadFraction_ = std::clamp(0.05 + (cycle - 0.05) * smoothstep((t - 12.0) / 18.0), 0.0, 1.0);
    const double loadMin = holdingValue(kLoadMin), loadMax = holdingValue(kLoadMax);
    loadKw10_ = loadMin + loadFraction_ * std::max(0.0, loadMax - loadMin);

    // Speed: cranking, a run-up to rated speed, then governed with a little droop and jitter.
    if (t < 2.0) {
        speed_ = 100.0 * t;
    } else {
        speed_ = 200.0 + (kRatedRpm - 200.0) * smoothstep((t - 2.0) / 10.0);
        if (t >= 12.0) speed_ += -12.0 * loadFraction_ + 3.0 * noise(2);
    }
    if (episode && sc == Scenario::overspeed && te < 4.0) {
        const double peak = std::max(holdingValue(kOverspeedRpm), 1900) + 60.0 - kRatedRpm;
        speed_ += peak * std::sin(std::numbers::pi * te / 4.0);
    }

    // Inputs and switches.
    localShutoff_ = holdingValue(kEmergStop) != 0;
    const bool extOk = !(episode && sc == Scenario::externalShutoff);
    if (extShutoffOk_ && !extOk) events_.push(kExternalShutoff, now());
    extShutoffOk_ = extOk;
    const bool ecuLost = episode && sc == Scenario::ecuLoss;
    if (ecuLost && ms % 1000 == 0) ++ecuErrors_;
    if (!ecuLost && noise(3) > 0.9995) ++ecuErrors_;
    ecuLost_ = ecuLost;

    double supplyTarget = 50.0;
    if (episode && sc == Scenario::lowSupply) supplyTarget = 50.0 - 38.0 * std::min(1.0, te / 8.0);
    supplyPsi10_ = lag(supplyPsi10_, supplyTarget, 1.0) + 0.3 * noise(4);

    // Gas: on once the engine holds speed and nothing inhibits it; off at once otherwise.
    const bool inhibit =
        alarmWord_ != 0 || localShutoff_ || !extShutoffOk_ || speed_ < holdingValue(kMinSubstRpm);
    if (inhibit) {
        gasOn_ = false;
        gasArmMs_ = std::max<std::int64_t>(gasArmMs_, ms + 10000);
    } else if (!gasOn_ && ms >= gasArmMs_) {
        gasOn_ = true;
        events_.push(kGasOn, now());
    }

    // Fuel: diesel-only demand follows the load; with gas on the substitution schedule sets
    // the diesel flow and gas makes up the rest.
    dieselFull10_ = 20.0 + 0.24 * loadKw10_ * (speed_ > 300 ? 1.0 : speed_ / 300.0);
    double substTarget = 0;
    if (gasOn_ && dieselFull10_ > 1.0) {
        const std::int16_t* loads = &holding_[kSubstLoad0 - 1];
        const std::int16_t* flows = &holding_[kSubstDiesel0 - 1];
        const double withGas = interpolate(loads, flows, 4, loadKw10_);
        substTarget = (1.0 - withGas / dieselFull10_) * 1000.0;
        substTarget = std::clamp(
            substTarget, static_cast<double>(holdingValue(kSubstMin)),
            static_cast<double>(std::max(holdingValue(kSubstMin), holdingValue(kSubstMax))));
        substTarget = std::clamp(substTarget, 0.0, 1000.0);
    }
    substitution_ = lag(substitution_, substTarget, gasOn_ ? 4.0 : 0.5);
    const double dieselClean = dieselFull10_ * (1.0 - substitution_ / 1000.0);
    diesel10_ = std::max(0.0, dieselClean + 3.0 * noise(5));
    const double gasBtu = holdingValue(kGasBtu) > 0 ? holdingValue(kGasBtu) : 1000.0;
    const double substitutedLph = (dieselFull10_ - dieselClean) / 10.0;
    gasFlow10_ = std::max(0.0, substitutedLph * 35.8 * 947.8 / gasBtu / 60.0 * 10.0 +
                                   2.0 * noise(6) * (gasOn_ ? 1 : 0));

    // Gas pressure: the set-point follows the load schedule, each bank's feedback follows it.
    pressureSp_ = interpolate(&holding_[kLoadSp0 - 1], &holding_[kPressureSp0 - 1], 10, loadKw10_);
    double fbTarget = gasOn_ ? pressureSp_ : 0.0;
    if (gasOn_ && supplyPsi10_ < 30.0) fbTarget *= std::max(0.3, supplyPsi10_ / 30.0);
    feedbackLeft_ = lag(feedbackLeft_, fbTarget, 1.5);
    feedbackRight_ = lag(feedbackRight_, fbTarget + (gasOn_ ? 5.0 : 0.0), 1.8);
    // The transducers' jitter rides on the reading, never below an empty manifold.
    feedbackLeftShown_ = std::max(0.0, feedbackLeft_ + 2.0 * noise(7));
    feedbackRightShown_ = std::max(0.0, feedbackRight_ + 2.0 * noise(8));
    auto actuator = [&](double feedback, double sp, int ch) {
        if (!gasOn_) return 0.0;
        return std::clamp(120.0 + substitutedLph * 5.0 + (sp - feedback) * 0.8 + 4.0 * noise(ch),
                          0.0, 1000.0);
    };
    actuatorLeft_ = actuator(feedbackLeftShown_, pressureSp_, 9);
    actuatorRight_ = actuator(feedbackRightShown_, pressureSp_ + 5.0, 10);

    // Exhaust temperature and vibration.
    double exhaustTarget =
        60.0 + (speed_ / kRatedRpm) * 290.0 + loadKw10_ * 0.055 + 25.0 * substitution_ / 1000.0;
    if (episode && sc == Scenario::highExhaust) exhaustTarget += 500.0 * std::min(1.0, te / 20.0);
    exhaust_ = lag(exhaust_, exhaustTarget, 6.0) + 1.5 * noise(11);
    exhaustAvg_ = lag(exhaustAvg_, exhaust_, 10.0);
    double vib = speed_ > 300 ? 120.0 + 150.0 * loadFraction_ + 25.0 * noise(12) : 5.0;
    if (episode && sc == Scenario::highVibration) vib += 700.0 * std::min(1.0, te / 10.0);
    vibration_ = std::max(0.0, vib);
    vibrationAvg_ = lag(vibrationAvg_, vibration_, 3.0);
    vibrationMax_ = std::max(vibrationMax_, vibration_);

    // Alarms latch until acknowledged.
    if (holdingValue(kOverspeedRpm) > 0 && speed_ > holdingValue(kOverspeedRpm))
        raiseAlarm(kOverspeed);
    auto overFor = [&](bool over, int& timerMs, int delayRef) {
        timerMs = over ? timerMs + kStepMs : 0;
        return over && timerMs >= std::max(0, holdingValue(delayRef)) * 1000;
    };
    const bool exhaustOver = holdingValue(kExhaustShutdownOn) != 0 &&
                             holdingValue(kExhaustMax) > 0 && exhaust_ > holdingValue(kExhaustMax);
    if (overFor(exhaustOver, exhaustOverMs_, kExhaustDelay)) raiseAlarm(kHighExhaust);
    const bool vibOver = holdingValue(kVibrationShutdownOn) != 0 &&
                         holdingValue(kVibrationMax) > 0 &&
                         vibration_ > holdingValue(kVibrationMax);
    if (overFor(vibOver, vibrationOverMs_, kVibrationDelay)) raiseAlarm(kHighVibration);
    lowSupplyMs_ = supplyPsi10_ < 20.0 ? lowSupplyMs_ + kStepMs : 0;
    if (lowSupplyMs_ >= 2000) raiseAlarm(kLowSupply);

    // Run meters count while the engine turns.
    if (speed_ > 300) runMs_ += kStepMs;
    if (runMs_ >= 60000) {
        runMs_ -= 60000;
        int minutes = holdingValue(kMinMeter) + 1;
        if (minutes >= 60) {
            minutes = 0;
            holding_[kHourMeter - 1] = clamp16(holdingValue(kHourMeter) + 1);
        }
        holding_[kMinMeter - 1] = static_cast<std::int16_t>(minutes);
    }
}

void ControllerEngine::publish() {
    auto set = [this](int ref, double v) { input_[static_cast<std::size_t>(ref)] = clamp16(v); };
    const int modeCode = ecuLost_ ? -4 : speed_ < 1000 ? 0 : gasOn_ ? 2 : 1;
    const double pressureSp = pressureSp_;
    // The gas valve closes at once; flow and actuators drop with it.
    const double gasFlow10 = gasOn_ ? gasFlow10_ : 0.0;
    const double actuatorLeft = gasOn_ ? actuatorLeft_ : 0.0;
    const double actuatorRight = gasOn_ ? actuatorRight_ : 0.0;

    // Block A.
    set(1, 400 + loadFraction_ * 1600);  // load signal, mA x 100
    set(2, 400 + std::min(1.0, vibration_ / 1000.0) * 1600);
    set(3, 245);  // battery, V x 10
    set(4, supplyPsi10_);
    set(5, 95);  // board temperature, F
    set(6, (localShutoff_ ? 1 : 0) | (extShutoffOk_ ? 0 : 2) | (gasOn_ ? 4 : 0));
    set(7, (alarmWord_ ? 1 : 0) | (gasOn_ ? 0 : 2));
    set(8, 0);
    set(9, exhaust_);
    set(10, exhaust_ - 8);
    set(11, loadFraction_ * 1000);
    set(12, loadKw10_);
    set(13, supplyPsi10_);
    set(14, vibration_);
    set(15, exhaustAvg_);
    set(16, localShutoff_ ? 1 : 0);
    set(17, 245);
    input_[18] = static_cast<std::int16_t>(alarmWord_);
    set(19, holdingValue(kFlowSetpoint));
    set(20, ecuErrors_);
    set(21, gasFlow10);
    set(22, (feedbackLeftShown_ + feedbackRightShown_) / 2);
    set(23, pressureSp);
    set(24, substitution_);
    set(25, substitution_);
    set(26, holdingValue(kSubstMax));
    set(27, gasOn_ ? 1 : 0);
    set(28, pressureSp);
    set(29, feedbackLeftShown_);
    set(30, pressureSp - feedbackLeftShown_);
    set(31, 0);
    set(32, actuatorLeft);
    set(33, actuatorLeft);
    set(34, modeCode);
    set(35, speed_);
    set(36, ecuLost_ ? 0 : speed_);
    set(37, diesel10_);
    set(38, ecuLost_ ? 0 : diesel10_);
    set(39, loadFraction_ * 100);
    set(40, ecuLost_ ? 1 : 0);
    set(41, vibrationAvg_);
    set(42, vibrationMax_);
    set(43, holdingValue(kHourMeter));
    set(44, holdingValue(kMinMeter));

    // Block B: the right bank, horsepower, start set-points, the external shutoff input.
    set(51, loadFraction_ * 1000);
    set(52, loadKw10_ * 1.341);
    set(53, loadFraction_ * 1000);
    set(54, substitution_);
    set(55, gasOn_ ? pressureSp + 5 : pressureSp);
    set(56, feedbackRightShown_);
    set(57, pressureSp + 5 - feedbackRightShown_);
    set(58, 0);
    set(59, actuatorRight);
    set(60, actuatorRight);
    set(61, modeCode);
    set(62, exhaust_ - 8);
    set(63, holdingValue(kPressureSp0));
    set(64, holdingValue(kPressureSp0) + 20);
    set(65, holding_[kPressureSp0]);
    set(66, extShutoffOk_ ? 1 : 0);
    set(67, gasFlow10);
    set(68, gasFlow10);
    set(69, substitution_ > 0 ? 1 : 0);

    // Block B113: supply and diagnostics the panel does not show.
    set(92, 245);
    set(93, 95);
    set(94, supplyPsi10_);
    set(95, 68);
    set(96, holdingValue(kHourMeter));
    set(97, holdingValue(kMinMeter));
    set(98, 412);  // starts
    input_[99] = static_cast<std::int16_t>(alarmWord_);
    set(100, alarmCount_);

    const auto history = events_.registers();
    std::copy(history.begin(), history.end(), input_.begin() + kEventFirstRef);

    // The controller's clock.
    const CalendarTime c = calendarFromSeconds(now());
    const int rtc[6] = {c.minute, c.hour, c.weekday, c.day, c.month, c.year % 100};
    for (int i = 0; i < 6; ++i)
        holding_[static_cast<std::size_t>(kRtcMin - 1 + i)] = clamp16(rtc[i]);
}

int ControllerEngine::readHolding(int firstRef, int count, std::int16_t* out,
                                  std::int64_t elapsedMs) {
    if (!holdingInMap(config_.firmware, firstRef, count)) return kIllegalAddress;
    advanceTo(elapsedMs);
    for (int i = 0; i < count; ++i)
        out[i] = holding_[static_cast<std::size_t>(firstRef - 1 + i)];
    return 0;
}

int ControllerEngine::readInput(int firstRef, int count, std::int16_t* out,
                                std::int64_t elapsedMs) {
    if (!inputInMap(config_.firmware, firstRef, count)) return kIllegalAddress;
    advanceTo(elapsedMs);
    for (int i = 0; i < count; ++i)
        out[i] = input_[static_cast<std::size_t>(firstRef + i)];
    return 0;
}

int ControllerEngine::writeHolding(int firstRef, const std::int16_t* values, int count,
                                   std::int64_t elapsedMs) {
    if (!holdingInMap(config_.firmware, firstRef, count)) return kIllegalAddress;
    // Product type and firmware version are the firmware's own.
    if (firstRef <= 2) return kIllegalAddress;
    const int last = firstRef + count - 1;
    if (firstRef <= kModbusAddress && last >= kModbusAddress) {
        const int address = values[kModbusAddress - firstRef];
        if (address < 1 || address > 247) return kIllegalValue;
    }
    advanceTo(elapsedMs);
    if (const int rc = setClock(firstRef, values, count, false); rc != 0) return rc;
    for (int i = 0; i < count; ++i)
        holding_[static_cast<std::size_t>(firstRef - 1 + i)] = values[i];
    setClock(firstRef, values, count, true);
    applyCommands(firstRef, count);
    publish();
    return 0;
}

// Writing minute, hour, day, month or year (152..157, the weekday follows from the date) sets
// the clock; a field out of its range refuses the whole write.
int ControllerEngine::setClock(int firstRef, const std::int16_t* values, int count, bool apply) {
    const int last = firstRef + count - 1;
    if (last < kRtcMin || firstRef > kRtcMin + 5) return 0;
    int f[6];
    for (int i = 0; i < 6; ++i) {
        const int ref = kRtcMin + i;
        f[i] = ref >= firstRef && ref <= last ? values[ref - firstRef] : holdingValue(ref);
    }
    CalendarTime t = calendarFromSeconds(now());
    t.minute = f[0];
    t.hour = f[1];
    t.day = f[3];
    t.month = f[4];
    t.year = 2000 + f[5];
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.minute < 0 || t.minute > 59 || t.hour < 0 || t.hour > 23 || t.month < 1 || t.month > 12 ||
        f[5] < 0 || f[5] > 99 || t.day < 1)
        return kIllegalValue;
    // Years 2000..2099 only: every fourth is a leap year, 2000 included.
    const bool leap = t.year % 4 == 0;
    if (t.day > kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0)) return kIllegalValue;
    if (apply) clockOffset_ += secondsFromCalendar(t) - now();
    return 0;
}

void ControllerEngine::applyCommands(int firstRef, int count) {
    auto written = [&](int ref) { return ref >= firstRef && ref < firstRef + count; };
    if (written(kSaveData) && static_cast<std::uint16_t>(holdingValue(kSaveData)) == kCommandWord) {
        ++saves_;
        holding_[kSaveData - 1] = 0;
    }
    if (written(kAcknowledge) &&
        static_cast<std::uint16_t>(holdingValue(kAcknowledge)) == kCommandWord) {
        ++acknowledges_;
        alarmWord_ = 0;
        exhaustOverMs_ = vibrationOverMs_ = lowSupplyMs_ = 0;
        holding_[kAcknowledge - 1] = 0;
        holding_[kAlarmSaved - 1] = 0;
    }
    if (written(kEmergStop)) {
        const bool stop = holdingValue(kEmergStop) != 0;
        if (stop && !localShutoff_) events_.push(kLocalShutoff, now());
        localShutoff_ = stop;
        if (stop && gasOn_) {
            gasOn_ = false;
            gasArmMs_ = std::max<std::int64_t>(gasArmMs_, elapsedMs() + 10000);
        }
    }
}

std::int16_t ControllerEngine::holding(int ref) const {
    if (ref < 1 || ref > holdingTop(config_.firmware)) return 0;
    return holding_[static_cast<std::size_t>(ref - 1)];
}

std::int16_t ControllerEngine::input(int ref) const {
    if (!inputInMap(config_.firmware, ref, 1)) return 0;
    return input_[static_cast<std::size_t>(ref)];
}

}  // namespace kvx::sim
