#include "model/live_data.h"

namespace kvx {
namespace {

constexpr std::int32_t LiveData::*kFields[LiveData::kFieldCount] = {
    &LiveData::exhaust_temp,
    &LiveData::aux_a,
    &LiveData::engine_load,
    &LiveData::aux_b,
    &LiveData::vibration,
    &LiveData::engine_hp,
    &LiveData::local_shutoff,
    &LiveData::aux_c,
    &LiveData::alarm_flags,
    &LiveData::pressure_sp,
    &LiveData::gas_flow,
    &LiveData::substitution_rate,
    &LiveData::pressure_sp_left,
    &LiveData::pressure_fdbk_left,
    &LiveData::actuator_left,
    &LiveData::engine_speed,
    &LiveData::diesel_flow,
    &LiveData::mode_left,
    &LiveData::ecu_rx_lost,
    &LiveData::vibration_max,
    &LiveData::pressure_sp_right,
    &LiveData::pressure_fdbk_right,
    &LiveData::actuator_right,
    &LiveData::mode_right,
    &LiveData::aux_d,
};

template <std::size_t N>
std::int32_t registerIn(const std::array<std::int16_t, N>& block, int firstRef, int reference) {
    const int index = reference - firstRef;
    if (index < 0 || index >= static_cast<int>(N)) return 0;
    return block[static_cast<std::size_t>(index)];  // sign-extended
}

}  // namespace

const char* const kLiveDataFieldNames[LiveData::kFieldCount] = {
    "exhaust_temp",
    "aux_a",
    "engine_load",
    "aux_b",
    "vibration",
    "engine_hp",
    "local_shutoff",
    "aux_c",
    "alarm_flags",
    "pressure_sp",
    "gas_flow",
    "substitution_rate",
    "pressure_sp_left",
    "pressure_fdbk_left",
    "actuator_left",
    "engine_speed",
    "diesel_flow",
    "mode_left",
    "ecu_rx_lost",
    "vibration_max",
    "pressure_sp_right",
    "pressure_fdbk_right",
    "actuator_right",
    "mode_right",
    "aux_d",
};

DeviceIdentity DeviceIdentity::fromRegisters(const std::int16_t (&regs)[kCount]) {
    return DeviceIdentity{regs[0], regs[1], regs[2], regs[3]};
}

std::int32_t InputImage::inA(int reference) const {
    return registerIn(a, kBlockA.firstRef, reference);
}
std::int32_t InputImage::inB105(int reference) const {
    return registerIn(b105, kBlockB105.firstRef, reference);
}
std::int32_t InputImage::inB106(int reference) const {
    return registerIn(b106, kBlockB106.firstRef, reference);
}

std::int32_t LiveData::field(int index) const {
    if (index < 0 || index >= kFieldCount) return 0;
    return this->*kFields[index];
}

void LiveData::setField(int index, std::int32_t value) {
    if (index < 0 || index >= kFieldCount) return;
    this->*kFields[index] = value;
}

void decodeLiveData(const InputImage& image, int indicatorType, bool blockAOk, bool blockB106Ok,
                    LiveData& live, LiveStatus& status) {
    const bool kilowatt = isKilowattIndicator(indicatorType);
    live.exhaust_temp = image.inA(9);
    live.aux_a = kilowatt ? image.inA(11) : image.inB105(51);
    live.engine_load = kilowatt ? image.inA(12) : image.inB105(52);
    live.aux_b = image.inA(13);
    live.vibration = image.inA(14);
    live.engine_hp = image.inB106(52);
    // A failed block-A read must not clear a shutoff or an alarm that is still in force.
    if (blockAOk) {
        live.local_shutoff = image.inA(16);
        live.alarm_flags = image.inA(18);
    }
    live.aux_c = image.inA(17);
    live.pressure_sp = image.inA(23);
    live.gas_flow = image.inB106(68);
    live.substitution_rate = image.inA(25);
    live.pressure_sp_left = image.inA(28);
    live.pressure_fdbk_left = image.inA(29);
    live.actuator_left = image.inA(32);
    live.engine_speed = image.inA(35);
    live.diesel_flow = image.inA(37);
    live.mode_left = image.inA(34);
    live.ecu_rx_lost = image.inA(40);
    live.vibration_max = image.inA(42);
    live.pressure_sp_right = image.inB106(55);
    live.pressure_fdbk_right = image.inB106(56);
    live.actuator_right = image.inB106(59);
    live.mode_right = image.inB106(61);
    live.aux_d = image.inB106(62);

    status.pollOk = blockAOk ? 1 : 0;
    if (blockB106Ok) status.extShutoffOk = image.inB106(66);
}

DisplayRanges computeDisplayRanges(const std::int16_t (&first)[DisplayRanges::kFirstCount],
                                   const std::int16_t (&second)[DisplayRanges::kSecondCount],
                                   int firmwareVersion, const DisplayRanges& previous) {
    auto at1 = [&](int reference) -> double {
        return first[reference - DisplayRanges::kFirstRead];
    };
    auto at2 = [&](int reference) -> int { return second[reference - DisplayRanges::kSecondRead]; };

    DisplayRanges r = previous;
    r.indicator_type = at2(90);
    r.exhaust_temp_avg_shutdown_max = at2(77);
    r.overspeed = at2(92);

    r.loadMin = at1(23) * 0.1;
    r.loadMax = isKilowattIndicator(r.indicator_type) ? at1(24) * 0.1 : 400.0;
    r.hpMin = r.loadMin;
    r.hpMax = firmwareVersion >= 107 ? at1(30) * 0.1 : 500.0;
    r.vibrationMin = at1(25) * 0.001;
    r.vibrationMax = at1(26) * 0.001;
    r.pressureMin = at1(27) * 0.01;
    r.pressureMax = at1(28) * 0.01;
    r.dieselFlowMin = 0.0;
    r.dieselFlowMax = at1(31) * 0.1;
    return r;
}

}  // namespace kvx
