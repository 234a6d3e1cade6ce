#pragma once
// The stored log format: an optional 40-byte header, then 84-byte records of the poll time and
// LiveData fields 0..19, every integer signed 32-bit little-endian whatever the host.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/live_data.h"

namespace kvx {

inline constexpr int kLogHeaderSize = 40;
inline constexpr int kLogValueCount = LiveData::kLoggedFieldCount;
inline constexpr int kLogRecordSize = 4 + 4 * kLogValueCount;  // 84

struct LogRecord {
    std::int32_t time = 0;  // seconds since 1970, UTC
    std::array<std::int32_t, kLogValueCount> values{};

    // calendarTime is narrowed to the stored 32 bits.
    static LogRecord fromLiveData(std::int64_t calendarTime, const LiveData& live);
    // Fields 0..19 of live take the stored values; fields 20..24 keep theirs.
    void toLiveData(LiveData& live) const;

    bool operator==(const LogRecord&) const = default;
};

void encodeLogRecord(const LogRecord& record, std::uint8_t* out);  // writes kLogRecordSize bytes
LogRecord decodeLogRecord(const std::uint8_t* in);                 // reads kLogRecordSize bytes

using LogHeader = std::array<std::uint8_t, kLogHeaderSize>;

// "KVX, Firmware ver: 1.13" for firmwareVersion 113 (hundredths), whatever the C locale.
std::string logHeaderText(int firmwareVersion);
// The text, one zero byte and zero padding up to 40 bytes.
LogHeader makeLogHeader(int firmwareVersion);

// The header check on the first bytes of a file (length may be less than 40 for a short file):
// the text up to the first zero byte, at most 40 bytes, must contain "KVX". On true, *title
// (when given) receives that text.
bool findLogHeader(const std::uint8_t* bytes, std::size_t length, std::string* title);

}  // namespace kvx
