#include "app/core/options.h"

#include <cmath>
#include <string_view>

#include "base/command_line.h"

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

}  // namespace

int parseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
    out = Options{};
    out.qtArguments.push_back(args.empty() ? std::string("orvik-kvx") : args[0]);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    if (argv.empty()) argv.push_back("orvik-kvx");
    cli::ArgReader reader(static_cast<int>(argv.size()), argv.data());
    const auto failed = [&] {
        error = reader.error();
        return kOptionsError;
    };
    // A text option that must not be empty.
    const auto text = [&](std::optional<std::string>& into, const char* what) {
        std::string_view v;
        if (!reader.value(v)) return false;
        if (v.empty()) return reader.expected(what);
        into = std::string(v);
        return true;
    };

    while (reader.next()) {
        const std::string_view arg = reader.name();
        if (reader.isHelp()) {
            if (!reader.noValue()) return failed();
            out.help = true;
        } else if (reader.isVersion()) {
            if (!reader.noValue()) return failed();
            out.version = true;
        } else if (arg == "--simulate") {
            if (!reader.noValue()) return failed();
            out.simulate = true;
        } else if (arg == "--sim-firmware") {
            int n = 0;
            if (!reader.integer(1, 32767, n)) return failed();
            out.simFirmware = n;
        } else if (arg == "--sim-scenario") {
            if (!text(out.simScenario, "a scenario name")) return failed();
        } else if (arg == "--data-dir") {
            if (!text(out.dataDir, "a directory")) return failed();
        } else if (arg == "--snapshot") {
            if (!text(out.snapshotPath, "a file name")) return failed();
        } else if (arg == "--quit-after") {
            // A day is more than any demo or test needs and keeps the millisecond count in range.
            double s = 0;
            if (!reader.decimal(std::nextafter(0.0, 1.0), 86400.0, "seconds above 0, at most 86400",
                                s))
                return failed();
            out.quitAfterSeconds = s;
        } else if (reader.isOption()) {
            // Qt takes its options with one dash or two.
            const std::string_view name = arg.substr(arg.starts_with("--") ? 2 : 1);
            bool known = false;
            for (auto q : kQtOptionsWithValue) {
                if (name == q) {
                    // Qt reads most of these only as two words, so "--name=value" is split
                    // rather than taking the next argument as well.
                    std::string_view v;
                    if (!reader.value(v)) return failed();
                    out.qtArguments.emplace_back(arg);
                    out.qtArguments.emplace_back(v);
                    known = true;
                    break;
                }
            }
            if (!known) {
                for (auto q : kQtFlags) {
                    if (name == q) {
                        if (!reader.noValue()) return failed();
                        out.qtArguments.emplace_back(arg);
                        known = true;
                        break;
                    }
                }
            }
            if (!known) {
                reader.unknown();
                return failed();
            }
        } else {
            reader.unknown();
            return failed();
        }
    }
    if (out.help) return kOptionsHelp;
    if (out.version) return kOptionsVersion;
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
           "  --version              show the program's version\n"
           "\n"
           "Qt options such as -platform offscreen or -style NAME are passed to Qt.\n"
           "Port names: a name with '/' is a device path; COMn is <program dir>/COMn when that\n"
           "exists (for example a symlink to /dev/ttyUSB0), else /dev/ttyS<n-1>.\n"
           "Exit status: 0 after a normal end, 2 for a bad option.\n";
}

}  // namespace kvx
