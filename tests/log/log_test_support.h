#pragma once
// Shared by the log tests: a scratch directory, file contents, a fixed time zone.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/log_clock.h"

extern char** environ;

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

// What a program run by a test ended with: its exit status (-1 when it did not exit normally)
// and what it wrote.
struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs program with args, its output kept in files of dir, and waits for it.
inline ToolRun runProgram(const char* program, std::vector<std::string> args, const TempDir& dir) {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string outPath = dir.file("stdout.txt"), errPath = dir.file("stderr.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    ToolRun result;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return result;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    const auto text = [](const std::string& path) {
        const std::vector<std::uint8_t> b = readBytes(path);
        return std::string(b.begin(), b.end());
    };
    result.out = text(outPath);
    result.err = text(errPath);
    return result;
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
