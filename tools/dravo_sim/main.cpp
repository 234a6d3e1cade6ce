// dravo-sim: simulated Dravo controllers on pseudo-terminals, for training, demos and for
// testing Modbus masters without hardware.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "link/tls_context.h"
#include "model/registers.h"
#include "settings/settings_file_reader.h"
#include "settings/settings_restore.h"
#include "sim/sim_options.h"
#include "sim/sim_server.h"

namespace {

using kvx::sim::SimOptions;
using kvx::sim::SimServer;

constexpr int kAlarmStatusSaved = 17;

// Local wall-clock time as the controller's clock shows it.
std::int64_t localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return static_cast<std::int64_t>(now) + local.tm_gmtoff;
}

// Points link at target, replacing an old symbolic link but never another kind of file.
bool makeLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "dravo-sim: %s exists and is not a symbolic link\n", link.c_str());
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "dravo-sim: cannot create %s: %s\n", link.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

// Removes link only while it still points at our device.
void removeLink(const std::string& link, const std::string& target) {
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0) return;
    buf[n] = '\0';
    if (target == buf) ::unlink(link.c_str());
}

// A request as served: the time, the fault put on its reply ("none" for a good reply,
// "cable-pulled" also for a request that reached a pulled cable), then, for a read of input
// registers 1..44 (block A) answered, the 44 values as the controller made them, so a
// master's log can be checked against what was on the line; for any other request,
// "request=" and its bytes in hex, so a master's traffic can be checked request by request.
void writeServed(std::FILE* out, const std::vector<std::uint8_t>& request,
                 const std::vector<std::uint8_t>& reply, kvx::sim::FaultKind fault) {
    constexpr int kCount = 44;
    const bool blockA = request.size() == 8 && request[1] == 4 && request[2] == 0 &&
                        request[3] == 0 && request[4] == 0 && request[5] == kCount &&
                        reply.size() == 5 + 2 * kCount;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::string line =
        std::to_string(static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
    line += ' ';
    line += fault == kvx::sim::FaultKind::none ? "none" : kvx::sim::faultName(fault);
    if (blockA) {
        for (int i = 0; i < kCount; ++i) {
            const auto v = static_cast<std::int16_t>(reply[3 + 2 * i] << 8 | reply[4 + 2 * i]);
            line += ' ';
            line += std::to_string(v);
        }
    } else {
        static constexpr char kHex[] = "0123456789ABCDEF";
        line += " request=";
        for (const std::uint8_t b : request) {
            line += kHex[b >> 4];
            line += kHex[b & 0x0F];
        }
    }
    line += '\n';
    std::fputs(line.c_str(), out);
}

// The engine's start from a settings file: its identity, and every register the upload read
// that a controller keeps as a setting or a record of its own; the clock runs on, commands and
// the saved alarm start clear. False with a one-line reason.
bool startFromSettingsFile(SimOptions& options, std::string& error) {
    kvx::SettingsFileContents file;
    kvx::SettingsFileError why;
    if (!kvx::readSettingsFile(options.settingsPath, file, why)) {
        error = options.settingsPath + ": " + why.text();
        return false;
    }
    if (!kvx::sim::isSupportedFirmware(file.firmware)) {
        error = options.settingsPath + ": firmware " + kvx::settingsVersionText(file.firmware) +
                " is not one the simulator stands in for";
        return false;
    }
    const int slave = static_cast<std::uint16_t>(file.image[kvx::ref::modbus_address - 1]);
    if (slave < 1 || slave > 247) {
        error = options.settingsPath + ": modbus_address " + std::to_string(slave) +
                " is no slave address (1..247)";
        return false;
    }
    kvx::sim::EngineConfig& e = options.engine;
    e.firmware = file.firmware;
    e.serialNumber = file.serialNumber;
    e.slave = slave;
    e.startHolding.clear();
    for (int ref = 1; ref <= kvx::settingsImageCovered(file.firmware); ++ref) {
        const kvx::RestoreKind kind = kvx::restoreKind(ref, file.firmware);
        const bool take = kind == kvx::RestoreKind::Setting || ref == kvx::ref::product_type ||
                          (kind == kvx::RestoreKind::Record && ref != kAlarmStatusSaved);
        if (take) e.startHolding.emplace_back(ref, file.image[static_cast<std::size_t>(ref - 1)]);
    }
    return true;
}

// Listens as the options say and prints the port name a master opens; false after saying why.
bool startListening(SimServer& server, const SimOptions& options) {
    kvx::sim::ListenConfig config;
    config.address = options.listenAddress;
    config.framing = options.framing;
    const bool tls = !options.tlsCert.empty();
    std::string why;
    if (tls) {
        config.tls =
            kvx::TlsContext::server(options.tlsCert, options.tlsKey, options.clientCa, why);
        if (!config.tls) {
            std::fprintf(stderr, "dravo-sim: %s\n", why.c_str());
            return false;
        }
    }
    // Who came, who was turned away and why: a technician's first question when a master
    // cannot get in.
    server.setEventHook(
        [](const std::string& line) { std::fprintf(stderr, "dravo-sim: %s\n", line.c_str()); });
    if (!server.listen(config, why)) {
        std::fprintf(stderr, "dravo-sim: %s\n", why.c_str());
        return false;
    }
    if (!kvx::sim::isLoopbackHost(options.listenAddress.host))
        std::fprintf(stderr, "dravo-sim: warning: %s is reachable from the network%s\n",
                     server.listenAddress().c_str(),
                     options.clientCa.empty()
                         ? " and nothing authenticates a client: anyone there can read and "
                           "write the controller"
                         : "");
    const char* scheme = tls                                          ? "modbus-tls://"
                         : options.framing == kvx::sim::Framing::mbap ? "modbus-tcp://"
                                                                      : "tcp://";
    std::printf("%s%s\n", scheme, server.listenAddress().c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    options.engine.startTime = localNow();
    std::string error;
    if (!kvx::sim::parseSimOptions(argc, argv, options, error))
        return kvx::cli::reportUsageError("dravo-sim", error);
    if (options.help) {
        std::fputs(kvx::sim::simUsage().c_str(), stdout);
        return 0;
    }
    if (options.version) return kvx::cli::printVersion("dravo-sim");
    if (!options.settingsPath.empty() && !startFromSettingsFile(options, error)) {
        std::fprintf(stderr, "dravo-sim: %s\n", error.c_str());
        return 1;
    }

    // Signals are taken synchronously below; block them before the server thread starts so
    // it inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // The register holds 16 bits; a settings file may carry a number above --serial's range.
    if (options.engine.serialNumber + options.units - 1 > 65535) {
        std::fprintf(stderr, "dravo-sim: %s: serial number %d with --units %d goes past 65535\n",
                     options.settingsPath.c_str(), options.engine.serialNumber, options.units);
        return 1;
    }
    // One server (and thread) per unit: each is a controller on a line of its own.
    std::vector<std::unique_ptr<SimServer>> servers;
    for (int i = 0; i < options.units; ++i) {
        kvx::sim::EngineConfig engine = options.engine;
        engine.serialNumber += i;
        engine.seed += static_cast<std::uint32_t>(i);
        auto& server = *servers.emplace_back(std::make_unique<SimServer>(engine));
        server.setWireTiming(options.wireTiming);
        server.setTurnaroundMs(options.turnaroundMs);
        server.setFaultSettings(options.faultSettings);
        for (const auto& [kind, rate] : options.faults)
            server.setFaultRate(kind, rate);
        for (const auto& [kind, request] : options.faultsAt)
            server.faultAt(request, kind);
    }
    SimServer& server = *servers.front();
    std::FILE* served = nullptr;
    if (!options.servedPath.empty()) {
        served = std::fopen(options.servedPath.c_str(), "w");
        if (served == nullptr) {
            std::fprintf(stderr, "dravo-sim: cannot write %s: %s\n", options.servedPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
        // Whole lines only, so a reader (or a kill) never sees half a reply.
        std::setvbuf(served, nullptr, _IOLBF, 1 << 12);
        server.setRequestHook(
            [served](const std::vector<std::uint8_t>& request,
                     const std::vector<std::uint8_t>& reply,
                     kvx::sim::FaultKind fault) { writeServed(served, request, reply, fault); });
    }
    // The links made so far with their devices, removed at exit.
    std::vector<std::pair<std::string, std::string>> links;
    const auto stopAll = [&] {
        for (auto& s : servers)
            s->stop();
        for (const auto& [link, device] : links)
            removeLink(link, device);
    };
    if (options.listen) {
        if (!startListening(server, options)) return 1;
    } else {
        for (int i = 0; i < options.units; ++i) {
            SimServer& unit = *servers[static_cast<std::size_t>(i)];
            if (const int err = unit.start(); err != 0) {
                std::fprintf(stderr, "dravo-sim: cannot open a pseudo-terminal: %s\n",
                             std::strerror(err));
                stopAll();
                return 1;
            }
            const std::string& device = unit.devicePath();
            std::string link = options.linkPath;
            if (!options.linkDir.empty()) link = options.linkDir + "/COM" + std::to_string(i + 1);
            if (!link.empty()) {
                if (!makeLink(link, device)) {
                    stopAll();
                    return 1;
                }
                links.emplace_back(link, device);
            }
            std::printf("%s\n", device.c_str());
        }
        // Said once: with many units the same limit stops every later one.
        int unwatched = 0;
        std::string why;
        for (const auto& s : servers) {
            if (s->closeWatchProblem().empty()) continue;
            ++unwatched;
            why = s->closeWatchProblem();
        }
        if (unwatched > 0)
            std::fprintf(stderr,
                         "dravo-sim: warning: %d of %d devices cannot be watched for a client's "
                         "close (%s); a client's exclusive lock there outlives its close. Raise "
                         "fs.inotify.max_user_instances (one per device) or serve fewer units\n",
                         unwatched, options.units, why.c_str());
    }
    std::fflush(stdout);

    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const auto total = static_cast<std::int64_t>(options.seconds * 1e9);
    deadline.tv_sec += static_cast<time_t>(total / 1000000000);
    deadline.tv_nsec += static_cast<long>(total % 1000000000);
    if (deadline.tv_nsec >= 1000000000) {
        deadline.tv_nsec -= 1000000000;
        ++deadline.tv_sec;
    }
    for (;;) {
        timespec wait{1, 0};
        if (options.seconds > 0) {
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            const std::int64_t left =
                (deadline.tv_sec - now.tv_sec) * 1000000000LL + (deadline.tv_nsec - now.tv_nsec);
            if (left <= 0) break;
            if (left < 1000000000LL) wait = {0, static_cast<long>(left)};
        }
        const int sig = ::sigtimedwait(&signals, nullptr, &wait);
        if (sig == SIGUSR1) {
            for (auto& unit : servers)
                unit->pullCable(options.faultSettings.cablePulledMs);
            continue;
        }
        if (sig > 0) break;
    }

    stopAll();
    if (served != nullptr) std::fclose(served);
    kvx::sim::ServerStats s;
    int saves = 0;
    for (auto& unit : servers) {
        const kvx::sim::ServerStats u = unit->stats();
        s.requests += u.requests;
        s.faults += u.faults;
        s.connections += u.connections;
        s.refused += u.refused;
        s.dropped += u.dropped;
        saves += unit->withEngine([](kvx::sim::ControllerEngine& e) { return e.saveCount(); });
    }
    std::printf("dravo-sim: %ld requests served, %ld faults injected, %d saves", s.requests,
                s.faults, saves);
    if (options.listen)
        std::printf("; %ld clients served, %ld refused, %ld dropped", s.connections, s.refused,
                    s.dropped);
    std::printf("\n");
    return 0;
}
