#include "log/log_format.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kvx {

namespace {

void putInt32(std::uint8_t* out, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    out[0] = static_cast<std::uint8_t>(u);
    out[1] = static_cast<std::uint8_t>(u >> 8);
    out[2] = static_cast<std::uint8_t>(u >> 16);
    out[3] = static_cast<std::uint8_t>(u >> 24);
}

std::int32_t getInt32(const std::uint8_t* in) {
    const std::uint32_t u =
        static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
        static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
    return static_cast<std::int32_t>(u);
}

}  // namespace

LogRecord LogRecord::fromLiveData(std::int64_t calendarTime, const LiveData& live) {
    LogRecord record;
    record.time = static_cast<std::int32_t>(calendarTime);
    for (int i = 0; i < kLogValueCount; ++i)
        record.values[i] = live.field(i);
    return record;
}

void LogRecord::toLiveData(LiveData& live) const {
    for (int i = 0; i < kLogValueCount; ++i)
        live.setField(i, values[i]);
}

void encodeLogRecord(const LogRecord& record, std::uint8_t* out) {
    putInt32(out, record.time);
    for (int i = 0; i < kLogValueCount; ++i)
        putInt32(out + 4 + 4 * i, record.values[i]);
}

LogRecord decodeLogRecord(const std::uint8_t* in) {
    LogRecord record;
    record.time = getInt32(in);
    for (int i = 0; i < kLogValueCount; ++i)
        record.values[i] = getInt32(in + 4 + 4 * i);
    return record;
}

std::string logHeaderText(int firmwareVersion) {
    // Integer arithmetic rather than "%.2f" of version / 100: a program that has set a
    // user locale would otherwise store a decimal comma.
    const long long magnitude = std::llabs(static_cast<long long>(firmwareVersion));
    char text[64];
    std::snprintf(text, sizeof text, "KVX, Firmware ver: %s%lld.%02lld",
                  firmwareVersion < 0 ? "-" : "", magnitude / 100, magnitude % 100);
    return text;
}

LogHeader makeLogHeader(int firmwareVersion) {
    LogHeader header{};
    const std::string text = logHeaderText(firmwareVersion);
    // At most 39 characters so that the terminating zero byte always fits.
    std::memcpy(header.data(), text.data(), std::min<std::size_t>(text.size(), kLogHeaderSize - 1));
    return header;
}

bool findLogHeader(const std::uint8_t* bytes, std::size_t length, std::string* title) {
    length = std::min<std::size_t>(length, kLogHeaderSize);
    std::size_t end = 0;
    while (end < length && bytes[end] != 0)
        ++end;
    const std::string_view text(reinterpret_cast<const char*>(bytes), end);
    if (text.find("KVX") == std::string_view::npos) return false;
    if (title) title->assign(text);
    return true;
}

}  // namespace kvx
