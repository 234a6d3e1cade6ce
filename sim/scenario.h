#pragma once
// Trouble the simulated engine runs into, for training and for testing alarm handling.
#include <span>
#include <string_view>

namespace kvx::sim {

enum class Scenario {
    normal,           // runs clean
    overspeed,        // speed surges past the overspeed limit
    highExhaust,      // exhaust temperature climbs past its shutdown maximum
    lowSupply,        // gas supply pressure sags, feedback falls behind its set-point
    highVibration,    // vibration rises past its shutdown limit
    externalShutoff,  // the external shutoff input opens
    ecuLoss,          // the engine ECU stops sending
};

struct ScenarioName {
    Scenario scenario;
    std::string_view name;
    std::string_view description;
};
std::span<const ScenarioName> scenarioNames();

// False when the name is unknown.
bool parseScenario(std::string_view name, Scenario& out);
std::string_view scenarioName(Scenario s);

}  // namespace kvx::sim
