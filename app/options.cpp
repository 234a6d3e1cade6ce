#include "app/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace kvx {

namespace {

// Options QGuiApplication and QApplication take, with or without a value.
constexpr std::string_view kQtOptionsWithValue[] = {
    "platform",
    "platformpluginpath",
    "platformtheme",
    "plugin",
    "qwindowgeometry",
    "qwindowicon",
    "qwindowtitle",
    "style",
    "stylesheet",
    "session",
    "display",
    "geometry",
    "title",
    "name",
    "qmljsdebugger",
    "graphicssystem",
    "font",
    "bg",
    "fg",
    "btn",
    "visual",
};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "nograb",     "dograb", "sync",
                                         "cmap",    "background",  "foreground", "button"};

bool parseInt(const std::string& text, long low, long high, int& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    out = static_cast<int>(v);
    return true;
}

bool parseSeconds(const std::string& text, double& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    // A day is more than any demo or test needs and keeps the millisecond count in range.
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v <= 0.0 || v > 86400.0) return false;
    out = v;
    return true;
}

}  // namespace

int parseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
    out = Options{};
    out.qtArguments.push_back(args.empty() ? std::string("orvik-kvx") : args[0]);
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasInlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasInlineValue = true;
            }
        }
        auto takeValue = [&](std::string& v) {
            if (hasInlineValue) {
                v = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        auto noValue = [&] {
            if (!hasInlineValue) return true;
            error = "option " + arg + " takes no value";
            return false;
        };

        if (arg == "--help" || arg == "-h") {
            if (!noValue()) return kOptionsError;
            out.help = true;
        } else if (arg == "--simulate") {
            if (!noValue()) return kOptionsError;
            out.simulate = true;
        } else if (arg == "--sim-firmware") {
            std::string v;
            if (!takeValue(v)) return kOptionsError;
            int n = 0;
            if (!parseInt(v, 1, 32767, n)) {
                error =
                    "--sim-firmware needs a firmware version times 100, for example 117; got '" +
                    v + "'";
                return kOptionsError;
            }
            out.simFirmware = n;
        } else if (arg == "--sim-scenario") {
            std::string v;
            if (!takeValue(v)) return kOptionsError;
            if (v.empty()) {
                error = "--sim-scenario needs a scenario name";
                return kOptionsError;
            }
            out.simScenario = v;
        } else if (arg == "--data-dir") {
            std::string v;
            if (!takeValue(v)) return kOptionsError;
            if (v.empty()) {
                error = "--data-dir needs a directory";
                return kOptionsError;
            }
            out.dataDir = v;
        } else if (arg == "--snapshot") {
            std::string v;
            if (!takeValue(v)) return kOptionsError;
            if (v.empty()) {
                error = "--snapshot needs a file name";
                return kOptionsError;
            }
            out.snapshotPath = v;
        } else if (arg == "--quit-after") {
            std::string v;
            if (!takeValue(v)) return kOptionsError;
            double s = 0;
            if (!parseSeconds(v, s)) {
                error = "--quit-after needs a number of seconds above 0 (at most 86400); got '" +
                        v + "'";
                return kOptionsError;
            }
            out.quitAfterSeconds = s;
        } else if (arg.size() > 1 && arg[0] == '-') {
            // Qt takes its options with one dash or two.
            const std::string_view name =
                std::string_view(arg).substr(arg.rfind("--", 0) == 0 ? 2 : 1);
            bool known = false;
            for (auto q : kQtOptionsWithValue) {
                if (name == q) {
                    // Qt reads most of these only as two words, so "--name=value" is split
                    // rather than taking the next argument as well.
                    std::string v;
                    if (!takeValue(v)) return kOptionsError;
                    out.qtArguments.push_back(arg);
                    out.qtArguments.push_back(v);
                    known = true;
                    break;
                }
            }
            if (!known) {
                for (auto q : kQtFlags) {
                    if (name == q) {
                        if (!noValue()) return kOptionsError;
                        out.qtArguments.push_back(arg);
                        known = true;
                        break;
                    }
                }
            }
            if (!known) {
                error = "unknown option " + args[i];
                return kOptionsError;
            }
        } else {
            error = "unexpected argument '" + arg + "'";
            return kOptionsError;
        }
    }
    if (out.help) return kOptionsHelp;
    if (!out.simulate && (out.simFirmware || out.simScenario)) {
        error =
            out.simFirmware ? "--sim-firmware needs --simulate" : "--sim-scenario needs --simulate";
        return kOptionsError;
    }
    if (out.snapshotPath && !out.quitAfterSeconds) {
        error = "--snapshot is written when --quit-after ends the program; give both";
        return kOptionsError;
    }
    return kOptionsOk;
}

std::string usageText(const std::string& programName) {
    return "Usage: " + programName +
           " [options] [Qt options]\n"
           "Orvik Dravo Viewer: polls a Dravo engine controller over Modbus RTU (9600 baud 8N1),\n"
           "shows the engine on an instrument panel and logs every good poll to hourly files.\n"
           "\n"
           "Options:\n"
           "  --simulate             run against the built-in simulated controller, served on a\n"
           "                         pseudo-terminal with 9600-baud wire timing; the configured\n"
           "                         port name leads to it for this run only\n"
           "  --sim-firmware N       firmware version x 100 the simulator reports (default 117);\n"
           "                         needs --simulate\n"
           "  --sim-scenario NAME    trouble the simulated engine runs into (normal, overspeed,\n"
           "                         ...); needs --simulate\n"
           "  --data-dir DIR         program directory for kvx_comm_config.dat,\n"
           "                         scaling_config.dat and the log files (default\n"
           "                         $XDG_DATA_HOME/Orvik_KVX, else ~/.local/share/Orvik_KVX)\n"
           "  --snapshot FILE.png    write the whole main window as PNG just before --quit-after\n"
           "                         ends the program\n"
           "  --quit-after SECONDS   end the program cleanly after this time (port and log file\n"
           "                         closed)\n"
           "  -h, --help             show this text\n"
           "\n"
           "Qt options such as -platform offscreen or -style NAME are passed to Qt.\n"
           "Port names: a name with '/' is a device path; COMn is <program dir>/COMn when that\n"
           "exists (for example a symlink to /dev/ttyUSB0), else /dev/ttyS<n-1>.\n"
           "Exit status: 0 after a normal end, 2 for a bad option.\n";
}

}  // namespace kvx
