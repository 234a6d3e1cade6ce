#include "sim/sim_options.h"

#include <string_view>

#include "base/command_line.h"

#include "sim/register_map.h"
#include "sim/scenario.h"

namespace kvx::sim {
namespace {

std::string firmwareList() {
    std::string list;
    for (int v : supportedFirmware())
        list += (list.empty() ? "" : ", ") + std::to_string(v);
    return list;
}

}  // namespace

std::string simUsage() {
    std::string u =
        "Usage: dravo-sim [options]\n"
        "A simulated Dravo controller: a Modbus RTU slave on a pseudo-terminal. The first line\n"
        "printed is the device to open (9600 baud, 8N1); it serves until --seconds have passed\n"
        "or it gets SIGINT/SIGTERM, then prints a one-line summary.\n"
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
        "  --wire-timing      pace every byte at its real time on a 9600-baud line\n"
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
         "  --served FILE      write a line for every reply to a read of input registers 1..44:\n"
         "                     the time in microseconds since 1970, the fault put on it (none,\n"
         "                     bad-crc, ...), then the 44 values as the controller made them\n"
         "  --seconds N        serve for N seconds, then exit (default: until a signal)\n"
         "  --seed N           seed of the engine's movements and of the fault draws "
         "(default 1)\n"
         "  --help             show this text\n"
         "  --version          show the program's version\n"
         "\n"
         "Exit status: 0 after a normal end, 1 when the pseudo-terminal or the link cannot be\n"
         "made or the settings file cannot be used, 2 for a bad option.\n";
    return u;
}

bool parseSimOptions(int argc, const char* const* argv, SimOptions& o, std::string& error) {
    cli::ArgReader args(argc, argv);
    const auto ok = [&](bool good) {
        if (!good) error = args.error();
        return good;
    };
    bool identityGiven = false;
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
    return true;
}

}  // namespace kvx::sim
