#include "fleet/engineering_values.h"

#include <algorithm>
#include <cmath>

#include "model/display_values.h"

namespace kvx::fleet {
namespace {

// The panel scales a register by multiplying (979 x 0.01), which lands next to the decimal
// value (9.790000000000001) and would print so. Rounded to the scale's decimals and divided by
// its power of ten, the value is the double nearest the decimal and prints as the panel shows it.
double atDecimals(double value, int decimals) {
    double scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    return std::round(value * scale) / scale;
}

}  // namespace

bool isEngineeringName(std::string_view name) {
    return std::find(std::begin(kEngineeringNames), std::end(kEngineeringNames), name) !=
           std::end(kEngineeringNames);
}

std::vector<EngineeringValue> engineeringValues(const LiveData& live, int selectedBank,
                                                int indicatorType) {
    const DisplayValues d = computeDisplayValues(live, selectedBank);
    const char* load = isKilowattIndicator(indicatorType) ? "kW" : "HP";
    const double values[kEngineeringValueCount] = {
        d.engineSpeed, d.engineHp,     d.substitutionRate, d.engineLoad,   d.dieselFlow, d.gasFlow,
        d.vibration,   d.vibrationMax, d.exhaustTemp,      d.pressureFdbk, d.pressureSp, d.actuator,
    };
    const char* units[kEngineeringValueCount] = {
        "rpm", "HP", "%", load, "LPH", "SCFM", "in/s", "in/s", "F", "in. W.C.", "in. W.C.", "",
    };
    // The decimals of each register's scale (x0.1, x0.001, x0.01, ...).
    constexpr int decimals[kEngineeringValueCount] = {0, 1, 1, 1, 1, 1, 3, 3, 0, 2, 2, 0};
    std::vector<EngineeringValue> out;
    out.reserve(kEngineeringValueCount);
    for (int i = 0; i < kEngineeringValueCount; ++i)
        out.push_back(
            {std::string(kEngineeringNames[i]), atDecimals(values[i], decimals[i]), units[i]});
    return out;
}

std::vector<EngineeringValue> engineeringValues(const LogRecord& record, int indicatorType) {
    LiveData live;
    record.toLiveData(live);
    return engineeringValues(live, 1, indicatorType);
}

}  // namespace kvx::fleet
