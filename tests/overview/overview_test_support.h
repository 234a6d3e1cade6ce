#pragma once
// Shared by the overview tests: log files written record by record, a day of them, and a
// scratch folder (from the log tests' support).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "../log/log_test_support.h"
#include "log/log_clock.h"
#include "log/log_file_name.h"
#include "log/log_format.h"

namespace kvx::test {

// A record at time whose fields follow value(field) (a steady engine by default).
inline LogRecord recordAt(std::int64_t time, const std::function<std::int32_t(int)>& value = {}) {
    LogRecord r;
    r.time = static_cast<std::int32_t>(time);
    for (int f = 0; f < kLogValueCount; ++f)
        r.values[f] = value ? value(f) : 100 + f;
    return r;
}

inline std::vector<std::uint8_t> logBytes(const std::vector<LogRecord>& records,
                                          bool header = true) {
    std::vector<std::uint8_t> bytes;
    if (header) {
        const LogHeader h = makeLogHeader(113);
        appendBytes(bytes, h.data(), h.size());
    }
    std::uint8_t one[kLogRecordSize];
    for (const LogRecord& r : records) {
        encodeLogRecord(r, one);
        appendBytes(bytes, one, sizeof one);
    }
    return bytes;
}

// The name of the log file for the local hour holding time.
inline std::string logNameFor(std::int64_t time) {
    LocalDateTime t;
    localDateTime(time, t);
    return logFileName(t);
}

// perSecond records in every second of [start, start + seconds), times in whole seconds as
// the writer stamps them.
inline std::vector<LogRecord> steadyRecords(std::int64_t start, int seconds, int perSecond = 5,
                                            const std::function<std::int32_t(int)>& value = {}) {
    std::vector<LogRecord> out;
    for (int s = 0; s < seconds; ++s)
        for (int k = 0; k < perSecond; ++k)
            out.push_back(recordAt(start + s, value));
    return out;
}

}  // namespace kvx::test
