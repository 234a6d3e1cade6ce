#include "sim/sim_options.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "sim/register_map.h"
#include "sim/scenario.h"

namespace kvx::sim {
namespace {

bool toLong(std::string_view text, long min, long max, long& out) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size() && out >= min && out <= max;
}

bool toDouble(std::string_view text, double min, double max, double& out) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size() && std::isfinite(out) &&
           out >= min && out <= max;
}

std::string firmwareList() {
    std::string list;
    for (int v : supportedFirmware())
        list += (list.empty() ? "" : ", ") + std::to_string(v);
    return list;
}

}  // namespace

std::string simUsage() {
    std::string u =
        "usage: dravo-sim [options]\n"
        "A simulated Dravo controller: a Modbus RTU slave on a pseudo-terminal. The first line\n"
        "printed is the device to open (9600 baud, 8N1); it serves until --seconds have passed\n"
        "or it gets SIGINT/SIGTERM, then prints a one-line summary.\n"
        "\n"
        "  --firmware N       firmware version x 100: " +
        firmwareList() +
        " (default 117)\n"
        "  --slave N          slave address 1..247 (default 1)\n"
        "  --serial N         controller serial number 0..32767 (default 2417)\n"
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
         "                     may be given more than once. KIND is one of:\n";
    for (const FaultName& f : faultNames()) {
        u += "                       " + std::string(f.name) +
             std::string(18 - std::min<std::size_t>(17, f.name.size()), ' ') +
             std::string(f.description) + "\n";
    }
    u += "  --exception-code N exception code of the exception fault, 1..255 (default 4)\n"
         "  --late-ms MS       delay of a late reply, 1..600000 ms (default 3500)\n"
         "  --pull-ms MS       how long a pulled cable stays out, 1..600000 ms (default 5000)\n"
         "  --seconds N        serve for N seconds, then exit (default: until a signal)\n"
         "  --seed N           seed of the engine's movements and of the fault draws "
         "(default 1)\n"
         "  --help             show this text\n";
    return u;
}

bool parseSimOptions(int argc, const char* const* argv, SimOptions& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasInline = false;
        if (arg.starts_with("--")) {
            const std::size_t eq = arg.find('=');
            if (eq != std::string_view::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasInline = true;
            }
        }
        auto needValue = [&]() -> bool {
            if (hasInline) return true;
            if (i + 1 >= argc) {
                error = "option " + std::string(arg) + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto bad = [&](const std::string& what) {
            error = "bad value '" + std::string(value) + "' for " + std::string(arg) + ": " + what;
            return false;
        };
        long n = 0;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--wire-timing") {
            if (hasInline) return bad("takes no value");
            o.wireTiming = true;
        } else if (arg == "--firmware") {
            if (!needValue()) return false;
            if (!toLong(value, 0, 1000, n) || !isSupportedFirmware(static_cast<int>(n)))
                return bad("expected one of " + firmwareList());
            o.engine.firmware = static_cast<int>(n);
        } else if (arg == "--slave") {
            if (!needValue()) return false;
            if (!toLong(value, 1, 247, n)) return bad("expected 1..247");
            o.engine.slave = static_cast<int>(n);
        } else if (arg == "--serial") {
            if (!needValue()) return false;
            if (!toLong(value, 0, 32767, n)) return bad("expected 0..32767");
            o.engine.serialNumber = static_cast<int>(n);
        } else if (arg == "--link") {
            if (!needValue()) return false;
            if (value.empty()) return bad("expected a path");
            o.linkPath = std::string(value);
        } else if (arg == "--turnaround") {
            if (!needValue()) return false;
            if (!toLong(value, 0, 10000, n)) return bad("expected 0..10000 ms");
            o.turnaroundMs = static_cast<int>(n);
        } else if (arg == "--scenario") {
            if (!needValue()) return false;
            if (!parseScenario(value, o.engine.scenario)) return bad("unknown scenario");
        } else if (arg == "--fault") {
            if (!needValue()) return false;
            FaultKind kind;
            double rate;
            if (!parseFaultOption(value, kind, rate))
                return bad("expected KIND or KIND:RATE with a known kind and RATE in 0..1");
            o.faults.emplace_back(kind, rate);
        } else if (arg == "--exception-code") {
            if (!needValue()) return false;
            if (!toLong(value, 1, 255, n)) return bad("expected 1..255");
            o.faultSettings.exceptionCode = static_cast<int>(n);
        } else if (arg == "--late-ms") {
            if (!needValue()) return false;
            if (!toLong(value, 1, 600000, n)) return bad("expected 1..600000 ms");
            o.faultSettings.lateDelayMs = static_cast<int>(n);
        } else if (arg == "--pull-ms") {
            if (!needValue()) return false;
            if (!toLong(value, 1, 600000, n)) return bad("expected 1..600000 ms");
            o.faultSettings.cablePulledMs = static_cast<int>(n);
        } else if (arg == "--seconds") {
            if (!needValue()) return false;
            if (!toDouble(value, 0.001, 31536000.0, o.seconds)) return bad("expected seconds > 0");
        } else if (arg == "--seed") {
            if (!needValue()) return false;
            if (!toLong(value, 0, 4294967295L, n)) return bad("expected 0..4294967295");
            o.engine.seed = static_cast<std::uint32_t>(n);
        } else {
            error = "unknown option '" + std::string(argv[i]) + "'";
            return false;
        }
    }
    return true;
}

}  // namespace kvx::sim
