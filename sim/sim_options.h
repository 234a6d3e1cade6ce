#pragma once
// The command line of dravo-sim.
#include <string>
#include <utility>
#include <vector>

#include "sim/controller_engine.h"
#include "sim/fault_injector.h"
#include "sim/network_listener.h"

namespace kvx::sim {

struct SimOptions {
    EngineConfig engine;
    std::string linkPath;
    // --units N: N controllers from one process, each on its own pseudo-terminal; unit i
    // (from 0) has serial number engine.serialNumber + i and seed engine.seed + i.
    int units = 1;
    std::string linkDir;  // --link-dir: DIR/COM1..COMn links to the units' devices
    bool wireTiming = false;
    int turnaroundMs = -1;
    std::vector<std::pair<FaultKind, double>> faults;
    std::vector<std::pair<FaultKind, long>> faultsAt;  // KIND:at=N: the N-th request's reply
    FaultSettings faultSettings;
    std::string servedPath;  // --served: the log of every request and its fault
    // --settings: a settings file to start from; the program reads it into engine (its
    // firmware, serial number and slave address come from it too).
    std::string settingsPath;
    // --listen: serve over TCP instead of a pseudo-terminal.
    bool listen = false;
    ListenAddress listenAddress;
    Framing framing = Framing::rtu;
    // --tls CERT KEY [--client-ca CA]: Modbus/TCP Security on the listening socket.
    std::string tlsCert, tlsKey, clientCa;
    double seconds = 0;  // 0: until a signal
    bool help = false;
    bool version = false;
};

// Fills options from argv. False with a one-line message in error when an option is unknown,
// lacks its value or the value is out of range.
bool parseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error);

std::string simUsage();

}  // namespace kvx::sim
