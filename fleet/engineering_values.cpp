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
    std::vector<EngineeringValue> out;
    out.reserve(kEngineeringValueCount);
    for (const PanelReading& r : panelReadings(live, selectedBank, indicatorType))
        out.push_back({r.name, r.value, r.unit});
    return out;
}

std::vector<EngineeringValue> engineeringValues(const LogRecord& record, int indicatorType) {
    LiveData live;
    record.toLiveData(live);
    return engineeringValues(live, 1, indicatorType);
}

}  // namespace kvx::fleet
