#pragma once
// The check that tells a record the writer stored from bytes that are not one: damage, a file
// of another kind, a copy gone wrong. kvx-log skips such records; the player says so.
#include <cstdint>
#include <string>

#include "log/log_file_name.h"
#include "log/log_format.h"

namespace kvx {

// Times the writer can have stored: 1980-01-01 to the end of signed 32-bit time.
inline constexpr std::int32_t kEarliestLogTime = 315532800;

// How many seconds a record's time may lie from the nearest second of its file's hour and
// still be the writer's: the hour change is noticed a tick late, and a poll tick that waits for
// a silent controller takes its time seconds before its record is written.
inline constexpr int kLogHourSlackSeconds = 300;

// True when the record could have come from the writer: a time from 1980 on, and every value a
// sign-extended 16-bit register. Otherwise *why (when given) says what is wrong.
bool isPlausibleLogRecord(const LogRecord& record, std::string* why);

// The same, and further the time within the file's hour (kLogHourSlackSeconds either side) in
// the process's time zone; hour comes from parseLogFileName of the file's path. Without an hour
// (hour null) it is the check above.
bool isPlausibleLogRecord(const LogRecord& record, const LogFileHour* hour, std::string* why);

// True when calendarTime lies within the hour or kLogHourSlackSeconds of it, local time.
bool isNearLogFileHour(std::int64_t calendarTime, const LogFileHour& hour);

}  // namespace kvx
