#pragma once
// Shared by the log tests: a scratch directory, file contents, a fixed time zone.
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/log_clock.h"

namespace kvx::test {

// Central European time with its summer time, spelled out so no zone database is needed.
inline void useCentralEuropeanTime() {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
}

inline void useTimeZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
}

// Seconds since 1970 of a UTC date and time.
inline std::int64_t utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<std::int64_t>(timegm(&tm));
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = "/tmp/kvx_log_test_XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline void appendBytes(std::vector<std::uint8_t>& to, const std::uint8_t* from, std::size_t n) {
    to.insert(to.end(), from, from + n);
}

inline LocalDateTime at(int year, int month, int day, int hour) {
    LocalDateTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    return t;
}

}  // namespace kvx::test
