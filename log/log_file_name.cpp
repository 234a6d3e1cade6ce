#include "log/log_file_name.h"

#include <cstdio>

namespace kvx {

std::string logFileName(const LocalDateTime& when) {
    char name[64];
    std::snprintf(name, sizeof name, "log_%u_%u_%u_%u%s", static_cast<unsigned>(when.year),
                  static_cast<unsigned>(when.month), static_cast<unsigned>(when.day),
                  static_cast<unsigned>(when.hour), ".log");
    return name;
}

std::string logFilePath(const std::string& directory, const LocalDateTime& when) {
    std::string path = directory;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + logFileName(when);
}

}  // namespace kvx
