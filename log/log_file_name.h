#pragma once
// One log file per local clock hour: log_<year>_<month>_<day>_<hour>.log, no leading zeros.
#include <string>

#include "log/log_clock.h"

namespace kvx {

std::string logFileName(const LocalDateTime& when);

// The local clock hour a log file's name stands for.
struct LogFileHour {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;   // 0..23
};

// Reads the hour from a log file's name; any directory part of path is ignored, and the name
// may be upper case as some copies leave it. False when the name is not one the writer makes.
bool parseLogFileName(const std::string& path, LogFileHour& out);

// The file name inside directory (a trailing slash on directory is optional).
std::string logFilePath(const std::string& directory, const LocalDateTime& when);

}  // namespace kvx
