#include "link/port_name.h"

#include <filesystem>
#include <system_error>

#include "base/program_directory.h"

namespace kvx {
namespace {

// The n of "COMn", or 0 when the name is not of that form. Leading zeros and numbers too large
// for a port index are not port names.
int comPortNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > 9) return 0;
    for (int i = 0; i < 3; ++i) {
        const char c = static_cast<char>(name[i] & ~0x20);  // ASCII upper case
        if (c != "COM"[i]) return 0;
    }
    if (name[3] == '0') return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

}  // namespace

std::string resolvePortName(std::string_view name, const std::string& programDir) {
    if (name.find('/') != std::string_view::npos) return std::string(name);
    const int number = comPortNumber(name);
    if (number == 0) return std::string(name);

    const std::string canonical = "COM" + std::to_string(number);
    if (!programDir.empty()) {
        const std::string path = joinDir(programDir, canonical);
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(path, error))) return path;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace kvx
