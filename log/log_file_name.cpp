#include "log/log_file_name.h"

#include <cctype>
#include <cstdio>

namespace kvx {

std::string logFileName(const LocalDateTime& when) {
    char name[64];
    std::snprintf(name, sizeof name, "log_%u_%u_%u_%u%s", static_cast<unsigned>(when.year),
                  static_cast<unsigned>(when.month), static_cast<unsigned>(when.day),
                  static_cast<unsigned>(when.hour), ".log");
    return name;
}

namespace {

bool equalsIgnoringCase(const std::string& text, std::size_t at, const char* word) {
    for (std::size_t i = 0; word[i] != '\0'; ++i) {
        if (at + i >= text.size() ||
            std::tolower(static_cast<unsigned char>(text[at + i])) != word[i])
            return false;
    }
    return true;
}

// Digits at text[at..] up to the next non-digit: at least one, at most five.
bool readNumber(const std::string& text, std::size_t& at, int& value) {
    value = 0;
    std::size_t digits = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        if (++digits > 5) return false;
        value = value * 10 + (text[at++] - '0');
    }
    return digits > 0;
}

}  // namespace

bool parseLogFileName(const std::string& path, LogFileHour& out) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!equalsIgnoringCase(name, 0, "log_")) return false;
    std::size_t at = 4;
    int parts[4];
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (at >= name.size() || name[at++] != '_')) return false;
        if (!readNumber(name, at, parts[i])) return false;
    }
    if (name.size() != at + 4 || !equalsIgnoringCase(name, at, ".log")) return false;
    const LogFileHour hour{parts[0], parts[1], parts[2], parts[3]};
    if (hour.year < 1970 || hour.month < 1 || hour.month > 12 || hour.day < 1 || hour.day > 31 ||
        hour.hour > 23)
        return false;
    out = hour;
    return true;
}

std::string logFilePath(const std::string& directory, const LocalDateTime& when) {
    std::string path = directory;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + logFileName(when);
}

}  // namespace kvx
