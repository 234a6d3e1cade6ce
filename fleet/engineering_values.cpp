#include "fleet/engineering_values.h"

#include <algorithm>

#include "model/display_values.h"

namespace kvx::fleet {

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
    std::vector<EngineeringValue> out;
    out.reserve(kEngineeringValueCount);
    for (int i = 0; i < kEngineeringValueCount; ++i)
        out.push_back({std::string(kEngineeringNames[i]), values[i], units[i]});
    return out;
}

std::vector<EngineeringValue> engineeringValues(const LogRecord& record, int indicatorType) {
    LiveData live;
    record.toLiveData(live);
    return engineeringValues(live, 1, indicatorType);
}

}  // namespace kvx::fleet
