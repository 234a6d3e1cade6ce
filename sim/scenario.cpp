#include "sim/scenario.h"

#include <array>

namespace kvx::sim {
namespace {

constexpr std::array<ScenarioName, 7> kNames = {{
    {Scenario::normal, "normal", "the engine runs clean"},
    {Scenario::overspeed, "overspeed", "speed surges past the overspeed limit"},
    {Scenario::highExhaust, "high-exhaust", "exhaust temperature climbs past its maximum"},
    {Scenario::lowSupply, "low-supply", "gas supply pressure sags"},
    {Scenario::highVibration, "high-vibration", "vibration rises past its shutdown limit"},
    {Scenario::externalShutoff, "external-shutoff", "the external shutoff input opens"},
    {Scenario::ecuLoss, "ecu-loss", "the engine ECU stops sending"},
}};

}  // namespace

std::span<const ScenarioName> scenarioNames() {
    return kNames;
}

bool parseScenario(std::string_view name, Scenario& out) {
    for (const ScenarioName& n : kNames) {
        if (n.name == name) {
            out = n.scenario;
            return true;
        }
    }
    return false;
}

std::string_view scenarioName(Scenario s) {
    for (const ScenarioName& n : kNames)
        if (n.scenario == s) return n.name;
    return "normal";
}

}  // namespace kvx::sim
