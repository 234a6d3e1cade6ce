#pragma once
// The engineering values a record carries for a remote panel: the panel's own display values
// (model's computeDisplayValues, not a second decoding), each with its name and unit.
#include <string>
#include <string_view>
#include <vector>

#include "log/log_format.h"
#include "model/live_data.h"

namespace kvx::fleet {

struct EngineeringValue {
    std::string name;
    double value = 0;
    std::string unit;
    bool operator==(const EngineeringValue&) const = default;
};

// The names, in the order engineeringValues gives them.
inline constexpr std::string_view kEngineeringNames[] = {
    "engine_speed", "engine_hp",         "substitution_rate", "engine_load",
    "diesel_flow",  "gas_flow",          "vibration",         "vibration_max",
    "exhaust_temp", "pressure_feedback", "pressure_setpoint", "actuator",
};
inline constexpr int kEngineeringValueCount =
    static_cast<int>(sizeof kEngineeringNames / sizeof kEngineeringNames[0]);

bool isEngineeringName(std::string_view name);

// What the panel shows for live with the given bank selected (1 left, else right). The load is
// in kW for the kilowatt indicator types, else in HP.
std::vector<EngineeringValue> engineeringValues(const LiveData& live, int selectedBank,
                                                int indicatorType);
// The same from a logged record, which holds the left bank only.
std::vector<EngineeringValue> engineeringValues(const LogRecord& record, int indicatorType);

}  // namespace kvx::fleet
