#pragma once
// One log file per local clock hour: log_<year>_<month>_<day>_<hour>.log, no leading zeros.
#include <string>

#include "log/log_clock.h"

namespace kvx {

std::string logFileName(const LocalDateTime& when);

// The file name inside directory (a trailing slash on directory is optional).
std::string logFilePath(const std::string& directory, const LocalDateTime& when);

}  // namespace kvx
