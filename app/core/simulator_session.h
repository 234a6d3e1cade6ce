#pragma once
// The built-in simulated controller of --simulate: served on a pseudo-terminal in its own
// thread, with 9600-baud wire timing, for as long as the program runs.
#include <memory>
#include <string>

#include "app/core/options.h"
#include "sim/sim_server.h"

namespace kvx {

// The simulator's firmware versions and scenarios, for --help.
std::string simulatorUsage();
// --sim-firmware and --sim-scenario name something the simulator has.
bool checkSimulatorOptions(const Options& options, std::string& error);

class SimulatorSession {
  public:
    SimulatorSession() = default;
    ~SimulatorSession() { stop(); }
    SimulatorSession(const SimulatorSession&) = delete;
    SimulatorSession& operator=(const SimulatorSession&) = delete;

    bool start(const Options& options, std::string& error);
    void stop();
    // The pseudo-terminal every port name leads to for this run.
    std::string devicePath() const { return server_ ? server_->devicePath() : std::string(); }
    sim::SimServer* server() { return server_.get(); }

  private:
    std::unique_ptr<sim::SimServer> server_;
};

}  // namespace kvx
