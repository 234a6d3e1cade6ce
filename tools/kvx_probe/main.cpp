// kvx-probe: checks a controller and its line from the command line, as the viewer would see
// them. Prints name=value lines a technician can read and a script can parse.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/core/program_settings.h"
#include "base/command_line.h"
#include "base/program_directory.h"
#include "link/mbus_rtu_master_protocol.h"
#include "link/mbus_tcp_master_protocol.h"
#include "link/network_open.h"
#include "link/port_name.h"
#include "link/result_codes.h"
#include "link/traffic_record.h"
#include "settings/settings_file.h"
#include "settings/settings_file_reader.h"
#include "tools/kvx_probe/probe.h"

namespace {

int fail(const char* what, int result, int exitCode = 1) {
    std::fprintf(stderr, "kvx-probe: %s: result %d (%s)\n", what, result,
                 kvx::probe::resultName(result).c_str());
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kvx;
    probe::ProbeOptions options;
    std::string error;
    if (!probe::parseProbeOptions(argc, argv, options, error))
        return cli::reportUsageError("kvx-probe", error);
    if (options.help) {
        std::fputs(probe::probeUsage().c_str(), stdout);
        return 0;
    }
    if (options.version) return cli::printVersion("kvx-probe");
    // A comparison or a restore tells a failure from a difference.
    const std::string& settingsFile =
        options.settingsDiff.empty() ? options.settingsRestore : options.settingsDiff;
    const int failure = settingsFile.empty() ? 1 : probe::kExitReadOrFile;
    SettingsFileContents file;
    if (!settingsFile.empty()) {
        // The file first: a bad one needs no line.
        SettingsFileError why;
        if (!readSettingsFile(settingsFile, file, why)) {
            std::fprintf(stderr, "kvx-probe: %s: %s\n", cli::printable(settingsFile).c_str(),
                         why.text().c_str());
            return failure;
        }
    }
    PortAddress address;
    if (!parsePortAddress(options.port, address, error)) {
        fail(error.c_str(), MBR_OPEN_FAILED);
        return failure;
    }
    const std::string programDir = programDirectory(options.dataDir);
    // The monitor's file first too: a run whose frames cannot be kept is not started.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> monitorFile(nullptr, &std::fclose);
    if (!options.monitorFile.empty()) {
        monitorFile.reset(std::fopen(options.monitorFile.c_str(), "w"));
        if (!monitorFile) {
            std::fprintf(stderr, "kvx-probe: cannot write %s: %s\n",
                         cli::printable(options.monitorFile).c_str(), std::strerror(errno));
            return failure;
        }
    }

    MbusRtuMasterProtocol rtu;
    MbusTcpMasterProtocol tcp;
    MbusMasterFunctions* master =
        address.kind == PortKind::ModbusTcp || address.kind == PortKind::ModbusTls
            ? static_cast<MbusMasterFunctions*>(&tcp)
            : &rtu;
    master->setReplyTimeout(3000);
    master->setRetryCount(0);
    if (address.kind == PortKind::Serial) {
        const std::string device = resolvePortName(options.port, programDir);
        if (const int rc = rtu.openConnection(device.c_str(), 9600, 8, 1, 0); rc != 0) {
            const std::string text = probe::openFailureText(device, rtu.lastOpenError());
            // The result code on the first line, as for every failure; the advice after it.
            const auto lineEnd = text.find('\n');
            fail(text.substr(0, lineEnd).c_str(), rc);
            if (lineEnd != std::string::npos)
                std::fprintf(stderr, "kvx-probe: %s\n", text.substr(lineEnd + 1).c_str());
            return failure;
        }
    } else {
        // The TLS files come from the settings file of the program directory, as for the viewer.
        ProgramSettings settings;
        std::vector<std::string> problems;
        readOptionsFile(programDir, settings, problems);
        for (const std::string& p : problems)
            std::fprintf(stderr, "kvx-probe: %s\n", p.c_str());
        std::unique_ptr<NetStream> stream;
        int rc = openNetworkStream(address, settings.tls, kConnectTimeoutMs, stream, error);
        if (rc == 0) {
            rc = address.kind == PortKind::RtuOverTcp ? rtu.attachChannel(std::move(stream), 9600)
                                                      : tcp.attachChannel(std::move(stream));
        }
        if (rc != 0) {
            fail(error.empty() ? options.port.c_str() : error.c_str(), rc);
            return failure;
        }
    }
    // Switched on before the identity reads, so that a line that fails at once shows why.
    std::unique_ptr<TrafficRing> ring;
    if (options.monitor) {
        ring = std::make_unique<TrafficRing>();
        master->setTrafficRing(ring.get());
    }
    probe::TrafficMonitor monitor(monitorFile ? monitorFile.get() : stdout);
    bool monitorWritten = true;
    const auto drainMonitor = [&] {
        if (ring) monitorWritten = monitor.drain(*ring) && monitorWritten;
    };
    // The verdicts counted, and whether the frame lines could all be written.
    const auto endMonitor = [&] {
        if (!ring) return true;
        drainMonitor();
        master->setTrafficRing(nullptr);
        std::printf("%s\n", monitor.summaryLine(*ring).c_str());
        std::fflush(stdout);
        if (monitorFile && std::fclose(monitorFile.release()) != 0) monitorWritten = false;
        if (!monitorWritten) {
            std::fprintf(stderr, "kvx-probe: %s: the frame lines could not all be written\n",
                         options.monitorFile.empty() ? "standard output"
                                                     : cli::printable(options.monitorFile).c_str());
        }
        return monitorWritten;
    };
    probe::Prober prober(*master, options.slave);
    // A network connection that failed says why (a TLS alert, a peer that closed); the result
    // code alone would only say "port failure".
    const auto networkReason = [&] {
        const std::string why = master == &tcp ? tcp.lastFailure() : rtu.channelError();
        if (!why.empty()) std::fprintf(stderr, "kvx-probe: %s\n", why.c_str());
    };
    const int connected = prober.connect();
    drainMonitor();
    if (const int rc = connected; rc != 0) {
        endMonitor();
        fail("identity read failed", rc, failure);
        networkReason();
        return failure;
    }
    if (!settingsFile.empty()) {
        const int firmware = prober.identity().version;
        const int rc =
            options.settingsDiff.empty()
                ? probe::restoreSettings(*master, options.slave, firmware, file,
                                         {options.includeAddress, options.includeCalibration,
                                          options.includeAddedRows},
                                         options.yes, stdout, error)
                : probe::diffSettings(*master, options.slave, firmware, file,
                                      {options.includeAddress, options.includeCalibration,
                                       options.includeAddedRows},
                                      stdout, error);
        std::fflush(stdout);
        master->closeConnection();
        if (!error.empty()) std::fprintf(stderr, "kvx-probe: %s\n", error.c_str());
        return rc;
    }
    if (!options.settingsCsv.empty()) {
        const int rc = probe::backupSettings(*master, options.slave, prober.identity().version,
                                             options.settingsCsv, error);
        master->closeConnection();
        if (rc != 0) {
            std::fprintf(stderr, "kvx-probe: %s\n", error.c_str());
            return rc;
        }
        const int firmware = prober.identity().version;
        std::printf("settings_csv=%s\nrows=%d\n", options.settingsCsv.c_str(),
                    settingsFileRows(firmware));
        // Rows the controller cannot give are 0 in the file.
        if (const std::string unread = settingsUnreadRows(firmware); !unread.empty())
            std::printf("unread_rows=%s\n", unread.c_str());
        return 0;
    }

    std::vector<double> durations;
    std::map<int, int> failures;
    int good = 0, lastFailure = 0;
    durations.reserve(static_cast<std::size_t>(options.polls));
    for (int i = 0; i < options.polls; ++i) {
        const probe::PollResult r = prober.poll();
        drainMonitor();
        durations.push_back(r.ms);
        if (r.good()) {
            ++good;
        } else {
            lastFailure = r.failure();
            ++failures[lastFailure];
        }
    }
    prober.print(stdout);
    if (options.polls > 1) {
        std::printf("%s\n", probe::summaryLine(options.polls, good, failures,
                                               probe::durationStats(durations))
                                .c_str());
    }
    std::fflush(stdout);
    const bool monitored = endMonitor();
    master->closeConnection();
    if (good == options.polls) return monitored ? 0 : 1;
    const std::string what = options.polls == 1
                                 ? std::string("poll failed")
                                 : std::to_string(options.polls - good) + " of " +
                                       std::to_string(options.polls) + " polls failed, the last";
    fail(what.c_str(), lastFailure);
    networkReason();
    return 1;
}
