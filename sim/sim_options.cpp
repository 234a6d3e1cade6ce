#include "sim/sim_options.h"

#include <string_view>

#include "base/command_line.h"

#include "sim/register_map.h"
#include "sim/scenario.h"
#include "sim/sim_server.h"

namespace kvx::sim {
namespace {

std::string firmwareList() {
    std::string list;
    for (int v : supportedFirmware())
        list += (list.empty() ? "" : ", ") + std::to_string(v);
    return list;
}

const char* framingName(Framing f) {
    return f == Framing::mbap ? "mbap" : "rtu";
}

bool checkNetworkOptions(SimOptions& o, bool framingGiven, std::string& error) {
    const bool tls = !o.tlsCert.empty();
    if (!o.listen && (framingGiven || tls || !o.clientCa.empty())) {
        error = std::string(framingGiven ? "--framing"
                            : tls        ? "--tls"
                                         : "--client-ca") +
                " needs --listen";
        return false;
    }
    if (!o.listen) return true;
    if (o.units > 1 || !o.linkDir.empty()) {
        error = std::string(o.units > 1 ? "--units" : "--link-dir") +
                " serves pseudo-terminals; with --listen there are none";
        return false;
    }
    if (!o.linkPath.empty()) {
        error = "--link makes a link to a pseudo-terminal; with --listen there is none";
        return false;
    }
    if (!o.clientCa.empty() && !tls) {
        error = "--client-ca needs --tls";
        return false;
    }
    if (tls) {
        // Modbus/TCP Security carries MBAP frames; no master speaks RTU frames over TLS.
        if (framingGiven && o.framing == Framing::rtu) {
            error = "--tls carries mbap framing only (Modbus/TCP Security), not rtu";
            return false;
        }
        o.framing = Framing::mbap;
    }
    auto fits = [&](FaultKind kind) {
        if (faultFitsFraming(kind, o.framing)) return true;
        error = "--fault " + std::string(faultName(kind)) + " means nothing in " +
                framingName(o.framing) +
                " framing: an MBAP frame has no CRC and its length is counted";
        return false;
    };
    for (const auto& [kind, rate] : o.faults)
        if (rate > 0 && !fits(kind)) return false;
    for (const auto& [kind, at] : o.faultsAt)
        if (!fits(kind)) return false;
    return true;
}

}  // namespace

std::string simUsage() {
    std::string u =
        "Usage: dravo-sim [options]\n"
        "A simulated Dravo controller: a Modbus RTU slave on a pseudo-terminal. The first line\n"
        "printed is the device to open (9600 baud, 8N1); it serves until --seconds have passed\n"
        "or it gets SIGINT/SIGTERM, then prints a one-line summary.\n"
        "\n"
        "  --listen [HOST:]PORT  serve over TCP instead, as a serial device server or a Modbus\n"
        "                     TCP gateway with the controller on its line would; the first line\n"
        "                     printed is then the port name a master opens (tcp://HOST:PORT,\n"
        "                     modbus-tcp://HOST:PORT or modbus-tls://HOST:PORT). Without HOST\n"
        "                     it listens on 127.0.0.1; port 0 picks a free port. Plain Modbus\n"
        "                     TCP has no authentication: a HOST other than loopback lets\n"
        "                     anyone who reaches it read and write the controller.\n"
        "                     One client at a time: while one is served, another connection is\n"
        "                     refused (reset at once); the next is accepted when it leaves. A\n"
        "                     client that sends a bad MBAP header, stops mid-frame for 5 s or\n"
        "                     fails the TLS handshake is dropped\n"
        "  --framing rtu|mbap rtu (default): RTU frames with their CRC, as a device server in\n"
        "                     raw mode carries them, received as on the line; mbap: Modbus TCP\n"
        "                     (MBAP header, transaction id echoed, unit id = slave address, 0\n"
        "                     a broadcast); another unit id gets the gateway's exception 11 (no\n"
        "                     reply from the target), or 10 (no path) above 247. The faults\n"
        "                     bad-crc, noise and trailing mean nothing in mbap and are refused;\n"
        "                     truncated sends half the frame and closes the connection\n"
        "  --tls CERT KEY     Modbus/TCP Security (TLS 1.2 or newer, mbap framing) with this\n"
        "                     certificate and key (PEM); a key file its group or others can\n"
        "                     read is refused\n"
        "  --client-ca CA     with --tls: require a client certificate signed by CA\n"
        "\n"
        "  --firmware N       firmware version x 100: " +
        firmwareList() +
        " (default 117)\n"
        "  --slave N          slave address 1..247 (default 1)\n"
        "  --serial N         controller serial number 0..32767 (default 2417)\n"
        "  --settings FILE    start from a settings file as the viewer's Upload Settings writes\n"
        "                     it: its firmware, serial number, slave address and every\n"
        "                     register it holds a value for (not the clock, the commands or\n"
        "                     the saved alarm); not with --firmware, --serial or --slave\n"
        "  --link PATH        also make PATH a symbolic link to the device (removed at exit);\n"
        "                     an existing symbolic link there is replaced, any other file is not\n"
        "  --units N          serve N controllers (1..1000) from one process, each on its own\n"
        "                     pseudo-terminal, one device printed per line; unit i (from 0)\n"
        "                     has serial number --serial + i and seed --seed + i, the other\n"
        "                     options apply to every unit; SIGUSR1 pulls every unit's cable\n"
        "  --link-dir DIR     make DIR/COM1 ... DIR/COMn symbolic links to the units' devices\n"
        "                     (removed at exit; existing links replaced, other files not)\n"
        "  --wire-timing      pace every byte at its real time on a 9600-baud line (over TCP:\n"
        "                     as a gateway's 9600-baud line behind it would; mbap replies leave\n"
        "                     whole once the line has carried them)\n"
        "  --turnaround MS    delay between request and reply, 0..10000 ms (default 4 with\n"
        "                     --wire-timing, else 0)\n"
        "  --scenario NAME    what goes wrong with the engine (from 45 s, for 30 s, every 3 "
        "min):\n";
    for (const ScenarioName& s : scenarioNames()) {
        u += "                       " + std::string(s.name) +
             std::string(18 - std::min<std::size_t>(17, s.name.size()), ' ') +
             std::string(s.description) + "\n";
    }
    u += "  --fault KIND[:RATE] put a fault on a fraction RATE (0..1, default 1) of the replies;\n"
         "                     may be given more than once\n"
         "  --fault KIND:at=N  put the fault on the reply to the N-th request since start\n"
         "                     (from 1) alone; the request itself is carried out, so\n"
         "                     no-reply:at=N is a reply lost on the line. KIND is one of:\n";
    for (const FaultName& f : faultNames()) {
        u += "                       " + std::string(f.name) +
             std::string(18 - std::min<std::size_t>(17, f.name.size()), ' ') +
             std::string(f.description) + "\n";
    }
    u += "  --exception-code N exception code of the exception fault, 1..255 (default 4)\n"
         "  --late-ms MS       delay of a late reply, 1..600000 ms (default 3500)\n"
         "  --pull-ms MS       how long a pulled cable stays out, 1..600000 ms (default 5000);\n"
         "                     SIGUSR1 pulls it now for that long\n"
         "  --served FILE      write a line for every request to this controller: the time in\n"
         "                     microseconds since 1970, the fault put on its reply (none,\n"
         "                     bad-crc, ...; cable-pulled also for a request sent while the\n"
         "                     cable was out), then for a read of input registers 1..44\n"
         "                     answered the 44 values as the controller made them, else\n"
         "                     request=HEX (its bytes)\n"
         "  --seconds N        serve for N seconds, then exit (default: until a signal)\n"
         "  --seed N           seed of the engine's movements and of the fault draws "
         "(default 1)\n"
         "  --help             show this text\n"
         "  --version          show the program's version\n"
         "\n"
         "Exit status: 0 after a normal end, 1 when the pseudo-terminal, the link or the\n"
         "listening socket cannot be made, or the settings file, certificate or key cannot be\n"
         "used, 2 for a bad option.\n";
    return u;
}

bool parseSimOptions(int argc, const char* const* argv, SimOptions& o, std::string& error) {
    cli::ArgReader args(argc, argv);
    const auto ok = [&](bool good) {
        if (!good) error = args.error();
        return good;
    };
    bool identityGiven = false;
    bool framingGiven = false;
    while (args.next()) {
        const std::string_view name = args.name();
        identityGiven =
            identityGiven || name == "--firmware" || name == "--serial" || name == "--slave";
        std::string_view value;
        if (args.isHelp()) {
            if (!ok(args.noValue())) return false;
            o.help = true;
        } else if (args.isVersion()) {
            if (!ok(args.noValue())) return false;
            o.version = true;
        } else if (name == "--wire-timing") {
            if (!ok(args.noValue())) return false;
            o.wireTiming = true;
        } else if (name == "--firmware") {
            long long n = 0;
            if (!ok(args.value(value))) return false;
            if (!cli::parseInteger(value, 0, 1000, n) || !isSupportedFirmware(static_cast<int>(n)))
                return ok(args.expected("one of " + firmwareList()));
            o.engine.firmware = static_cast<int>(n);
        } else if (name == "--slave") {
            if (!ok(args.integer(1, 247, o.engine.slave))) return false;
        } else if (name == "--serial") {
            if (!ok(args.integer(0, 32767, o.engine.serialNumber))) return false;
        } else if (name == "--link") {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a path"));
            o.linkPath = std::string(value);
        } else if (name == "--units") {
            if (!ok(args.integer(1, 1000, o.units))) return false;
        } else if (name == "--link-dir") {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a directory"));
            o.linkDir = std::string(value);
        } else if (name == "--settings") {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a settings file"));
            o.settingsPath = std::string(value);
        } else if (name == "--served") {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a file"));
            o.servedPath = std::string(value);
        } else if (name == "--turnaround") {
            if (!ok(args.integer(0, 10000, o.turnaroundMs))) return false;
        } else if (name == "--scenario") {
            if (!ok(args.value(value))) return false;
            if (!parseScenario(value, o.engine.scenario))
                return ok(args.expected("a scenario from --help"));
        } else if (name == "--fault") {
            if (!ok(args.value(value))) return false;
            FaultKind kind;
            double rate;
            long at = 0;
            if (value.find(":at=") != std::string_view::npos) {
                if (!parseFaultAtOption(value, kind, at))
                    return ok(args.expected("KIND:at=N with a known kind and N from 1"));
                o.faultsAt.emplace_back(kind, at);
            } else if (parseFaultOption(value, kind, rate)) {
                o.faults.emplace_back(kind, rate);
            } else {
                return ok(args.expected("KIND or KIND:RATE with a known kind and RATE in 0..1"));
            }
        } else if (name == "--exception-code") {
            if (!ok(args.integer(1, 255, o.faultSettings.exceptionCode))) return false;
        } else if (name == "--late-ms") {
            if (!ok(args.integer(1, 600000, o.faultSettings.lateDelayMs))) return false;
        } else if (name == "--pull-ms") {
            if (!ok(args.integer(1, 600000, o.faultSettings.cablePulledMs))) return false;
        } else if (name == "--listen") {
            if (!ok(args.value(value))) return false;
            std::string why;
            if (!parseListenAddress(value, o.listenAddress, why))
                return ok(args.expected("[HOST:]PORT: " + why));
            o.listen = true;
        } else if (name == "--framing") {
            if (!ok(args.value(value))) return false;
            if (value == "rtu")
                o.framing = Framing::rtu;
            else if (value == "mbap")
                o.framing = Framing::mbap;
            else
                return ok(args.expected("rtu or mbap"));
            framingGiven = true;
        } else if (name == "--tls") {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a certificate file, then a key file"));
            o.tlsCert = std::string(value);
            if (!args.next() || args.arg().empty() || args.arg()[0] == '-')
                return ok(args.fail("--tls takes two files: CERT KEY"));
            o.tlsKey = std::string(args.arg());
        } else if (name == "--client-ca") {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a CA certificate file"));
            o.clientCa = std::string(value);
        } else if (name == "--seconds") {
            if (!ok(args.decimal(0.001, 31536000.0, "seconds above 0", o.seconds))) return false;
        } else if (name == "--seed") {
            if (!ok(args.integer(0, 4294967295LL, o.engine.seed))) return false;
        } else {
            return ok(args.unknown());
        }
    }
    if (identityGiven && !o.settingsPath.empty()) {
        error = "--firmware, --serial and --slave come from the --settings file";
        return false;
    }
    if (o.units > 1 && !o.linkPath.empty()) {
        error = "--link makes one link; with --units use --link-dir";
        return false;
    }
    if (o.units > 1 && !o.servedPath.empty()) {
        error = "--served logs one unit's replies; not with --units";
        return false;
    }
    if (o.settingsPath.empty() && o.engine.serialNumber + o.units - 1 > 32767) {
        error = "--serial " + std::to_string(o.engine.serialNumber) + " with --units " +
                std::to_string(o.units) + " goes past serial number 32767";
        return false;
    }
    return checkNetworkOptions(o, framingGiven, error);
}

}  // namespace kvx::sim
