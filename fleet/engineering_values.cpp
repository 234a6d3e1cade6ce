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
    std::vector<EngineeringValue> out;
    out.reserve(kEngineeringValueCount);
    for (const PanelReading& r : panelReadings(live, selectedBank, indicatorType))
        out.push_back({r.name, atDecimals(r.value, r.decimals), r.unit});
    return out;
}

std::vector<EngineeringValue> engineeringValues(const LogRecord& record, int indicatorType) {
    LiveData live;
    record.toLiveData(live);
    return engineeringValues(live, 1, indicatorType);
}

}  // namespace kvx::fleet
