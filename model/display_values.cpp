#include "model/display_values.h"

#include <cstdio>

#include "model/alarm_text.h"

namespace kvx {
namespace {

double clampNegative(double v) {
    return v < 0.0 ? 0.0 : v;
}

template <typename... Args>
std::string format(const char* fmt, Args... args) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

}  // namespace

DisplayValues computeDisplayValues(const LiveData& live, int selectedBank) {
    const bool left = selectedBank == 1;
    DisplayValues v;
    v.engineSpeed = live.engine_speed;
    v.engineHp = live.engine_hp * 0.1;
    v.substitutionRate = clampNegative(live.substitution_rate / 10.0);
    v.engineLoad = clampNegative(live.engine_load * 0.1);
    v.dieselFlow = clampNegative(live.diesel_flow * 0.1);
    v.gasFlow = clampNegative(live.gas_flow * 0.1);
    v.vibration = clampNegative(live.vibration * 0.001);
    v.vibrationMax = live.vibration_max * 0.001;
    v.exhaustTemp = live.exhaust_temp;
    v.pressureFdbk = (left ? live.pressure_fdbk_left : live.pressure_fdbk_right) * 0.01;
    v.pressureSp = (left ? live.pressure_sp_left : live.pressure_sp_right) * 0.01;
    v.actuator = left ? live.actuator_left : live.actuator_right;

    v.trend[0] = v.dieselFlow;
    v.trend[1] = v.engineLoad;
    v.trend[2] = v.pressureFdbk;
    v.trend[3] = v.actuator;
    v.trend[4] = v.vibration;
    v.trend[5] = v.pressureSp;
    v.trend[6] = v.exhaustTemp;
    v.trend[7] = 0.0;
    v.trend[8] = v.engineSpeed;
    v.trend[9] = v.vibrationMax;
    return v;
}

TextLines computeTextLines(const LiveData& live, const InputImage& image, int selectedBank) {
    const bool left = selectedBank == 1;
    TextLines t;
    t.pressureSp = format("PRESSURE SP : %.2f", live.pressure_sp * 0.01);
    t.bank = left ? "LEFT BANK" : "RIGHT BANK";
    t.mode = modeText(left ? live.mode_left : live.mode_right);
    if (live.ecu_rx_lost != 0) t.ecu = "ECU RX: NOT AVAIL";
    t.ecuError = format("ECU FLOW RX ERR: %d", image.inA(20));
    t.startSp = format("START SP : %.2f", image.inB106(63) * 0.01);
    t.startSp1 = format("START SP1 : %.2f", image.inB106(64) * 0.01);
    t.startSp2 = format("START SP2 : %.2f", image.inB106(65) * 0.01);
    return t;
}

std::string gasText(const LiveData& live, const LiveStatus& status) {
    const bool on = live.local_shutoff == 0 && status.extShutoffOk != 0 && live.alarm_flags == 0;
    return on ? "GAS is ON" : "GAS is OFF";
}

std::string speedChannelName(int overspeed) {
    return format("ENGINE SPEED /%i/", overspeed);
}

std::string exhaustChannelName(int exhaustTempLimit) {
    return format("EXHAUST TEMP /%i/", exhaustTempLimit);
}

std::vector<PanelReading> panelReadings(const LiveData& live, int selectedBank, int indicatorType) {
    const DisplayValues d = computeDisplayValues(live, selectedBank);
    const char* load = isKilowattIndicator(indicatorType) ? "kW" : "HP";
    return {
        {"engine_speed", "Engine speed", d.engineSpeed, "rpm", 0},
        {"engine_hp", "Engine power", d.engineHp, "HP", 1},
        {"substitution_rate", "Substitution rate", d.substitutionRate, "%", 1},
        {"engine_load", "Engine load", d.engineLoad, load, 1},
        {"diesel_flow", "Diesel flow", d.dieselFlow, "LPH", 1},
        {"gas_flow", "Gas flow", d.gasFlow, "SCFM", 1},
        {"vibration", "Vibration", d.vibration, "in/s", 3},
        {"vibration_max", "Vibration maximum", d.vibrationMax, "in/s", 3},
        {"exhaust_temp", "Exhaust temperature", d.exhaustTemp, "F", 0},
        {"pressure_feedback", "Pressure feedback", d.pressureFdbk, "in. W.C.", 2},
        {"pressure_setpoint", "Pressure set-point", d.pressureSp, "in. W.C.", 2},
        {"actuator", "Actuator", d.actuator, "", 0},
    };
}

}  // namespace kvx
