#include "app/core/simulator_session.h"

#include <cstring>
#include <ctime>

#include "base/command_line.h"
#include "sim/register_map.h"
#include "sim/scenario.h"

namespace kvx {

std::string simulatorUsage() {
    // Appends only: GCC 12 at -O3 reports a false -Wrestrict overlap for "literal" + string.
    std::string text = "\nSimulated firmware versions:";
    for (int f : sim::supportedFirmware()) {
        text += ' ';
        text += std::to_string(f);
    }
    text += "\nSimulated scenarios:\n";
    for (const auto& s : sim::scenarioNames()) {
        text += "  ";
        text += s.name;
        text.append(s.name.size() < 20 ? 20 - s.name.size() : 1, ' ');
        text += s.description;
        text += '\n';
    }
    return text;
}

bool checkSimulatorOptions(const Options& options, std::string& error) {
    if (options.simFirmware && !sim::isSupportedFirmware(*options.simFirmware)) {
        error = "--sim-firmware " + std::to_string(*options.simFirmware) +
                " is not a simulated firmware version";
        return false;
    }
    sim::Scenario scenario;
    if (options.simScenario && !sim::parseScenario(*options.simScenario, scenario)) {
        error = "--sim-scenario '" + cli::printable(*options.simScenario) + "' is not a scenario";
        return false;
    }
    return true;
}

bool SimulatorSession::start(const Options& options, std::string& error) {
    if (!checkSimulatorOptions(options, error)) return false;
    sim::EngineConfig config;
    if (options.simFirmware) config.firmware = *options.simFirmware;
    if (options.simScenario) sim::parseScenario(*options.simScenario, config.scenario);
    // The controller's clock keeps local time; it powers up now.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local)) config.startTime = now + local.tm_gmtoff;
    config.seed = static_cast<std::uint32_t>(now);
    server_ = std::make_unique<sim::SimServer>(config);
    server_->setWireTiming(true);
    if (const int e = server_->start(); e != 0) {
        error = std::strerror(e);
        server_.reset();
        return false;
    }
    return true;
}

void SimulatorSession::stop() {
    if (server_) server_->stop();
}

}  // namespace kvx
