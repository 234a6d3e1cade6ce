#pragma once
// The command line of orvik-kvx. Qt's own options (-platform, -style, ...) are passed on to Qt
// untouched; anything else that looks like an option and is not ours is an error.
#include <optional>
#include <string>
#include <vector>

namespace kvx {

struct Options {
    bool simulate = false;
    std::optional<int> simFirmware;  // version x 100
    std::optional<std::string> simScenario;
    std::optional<std::string> dataDir;
    std::optional<std::string> snapshotPath;
    std::optional<double> quitAfterSeconds;
    bool help = false;
    bool version = false;
    // argv[0] and the Qt options with their values, in their order, for QApplication.
    std::vector<std::string> qtArguments;
};

inline constexpr int kOptionsOk = 0;
inline constexpr int kOptionsHelp = 1;     // --help: print usageText(), exit 0
inline constexpr int kOptionsError = 2;    // error holds the message; exit 2
inline constexpr int kOptionsVersion = 3;  // --version: print the version, exit 0

int parseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

std::string usageText(const std::string& programName);

}  // namespace kvx
