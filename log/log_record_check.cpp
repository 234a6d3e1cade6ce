#include "log/log_record_check.h"

#include <cstdio>

#include "log/log_clock.h"
#include "log/log_csv.h"

namespace kvx {

namespace {

bool inHour(std::int64_t calendarTime, const LogFileHour& hour) {
    LocalDateTime t;
    return localDateTime(calendarTime, t) && t.year == hour.year && t.month == hour.month &&
           t.day == hour.day && t.hour == hour.hour;
}

std::string hourText(const LogFileHour& hour) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:00 to %02d:00", hour.year, hour.month,
                  hour.day, hour.hour, (hour.hour + 1) % 24);
    return text;
}

}  // namespace

bool isNearLogFileHour(std::int64_t calendarTime, const LogFileHour& hour) {
    // An hour is longer than the slack, so a time within the slack of it has the hour itself
    // on one side or the other; this holds across a change to or from summer time too, where
    // the hour's local name is what counts.
    return inHour(calendarTime, hour) || inHour(calendarTime - kLogHourSlackSeconds, hour) ||
           inHour(calendarTime + kLogHourSlackSeconds, hour);
}

bool isPlausibleLogRecord(const LogRecord& record, std::string* why) {
    return isPlausibleLogRecord(record, nullptr, why);
}

bool isPlausibleLogRecord(const LogRecord& record, const LogFileHour* hour, std::string* why) {
    if (record.time < kEarliestLogTime) {
        if (why) *why = "time " + std::to_string(record.time) + " is before 1980";
        return false;
    }
    for (int i = 0; i < kLogValueCount; ++i) {
        if (record.values[i] < -32768 || record.values[i] > 32767) {
            if (why)
                *why = std::string(kLiveDataFieldNames[i]) + " is " +
                       std::to_string(record.values[i]) + ", not a 16-bit register value";
            return false;
        }
    }
    if (hour && !isNearLogFileHour(record.time, *hour)) {
        if (why)
            *why = "time " + formatLocalIsoTime(record.time) + " is outside the file's hour (" +
                   hourText(*hour) + ")";
        return false;
    }
    return true;
}

}  // namespace kvx
