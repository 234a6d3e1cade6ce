#pragma once
// The JSON payloads of the fleet's topics, version 1. Encoders write what the decoders take;
// decoders are strict, as every payload from a broker is outside input: wrong or missing "v",
// a missing, mistyped, duplicated or unknown field, a value out of range, trailing bytes after
// the object or a payload over kMaxPayloadBytes are refused with a one-line reason.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fleet/decoded.h"
#include "fleet/engineering_values.h"
#include "fleet/topics.h"
#include "log/log_format.h"

namespace kvx::fleet {

inline constexpr int kPayloadVersion = 1;
inline constexpr std::size_t kMaxPayloadBytes = 64 * 1024;
// Sequence numbers and millisecond times stay within the integers a JSON double holds exactly.
inline constexpr std::uint64_t kMaxSeq = (std::uint64_t{1} << 53) - 1;
inline constexpr std::int64_t kMaxTimeMs = (std::int64_t{1} << 53) - 1;
// A record's position in its hourly file; an hour at five records a second is 18,000.
inline constexpr std::uint32_t kMaxRecordIndex = 1'000'000;
inline constexpr std::size_t kMaxTextBytes = 1024;

using RawRecord = std::array<std::uint8_t, kLogRecordSize>;

// kvx/<site>/<serial>/record: one logged record.
struct RecordMessage {
    std::uint64_t seq = 1;                 // per agent, 1, 2, 3, ... never repeated
    std::string file;                      // the log file's name, as the writer names it
    std::optional<LogHeader> header;       // the file's header, none when the file has none
    std::uint32_t index = 0;               // position in the file: byte header + 84 * index
    RawRecord raw{};                       // the record's bytes as in the file
    std::int64_t time = 0;                 // the record's time, equal to the one in raw
    std::vector<EngineeringValue> values;  // what the panel shows
    std::int64_t publishedMs = 0;          // the agent's clock at publish
    bool late = false;                     // resent from the log file, not live

    LogRecord record() const { return decodeLogRecord(raw.data()); }
    // Byte offset of the record in its file.
    std::uint64_t offset() const {
        return (header ? kLogHeaderSize : 0) + std::uint64_t{kLogRecordSize} * index;
    }
    bool operator==(const RecordMessage&) const = default;
};

// Fills raw and time from record.
void setRecord(RecordMessage& message, const LogRecord& record);

// kvx/<site>/<serial>/identity (retained).
struct IdentityMessage {
    std::string site;
    std::uint32_t serial = 0;
    int firmware = 0;  // version x 100
    int slave = 1;
    std::string agent;  // the agent's version
    bool operator==(const IdentityMessage&) const = default;
};

// kvx/<site>/<serial>/status (retained; the last will says offline).
enum class UnitState { Online, Offline, NoController };
const char* unitStateName(UnitState state);  // "online", "offline", "no controller"

struct StatusMessage {
    UnitState state = UnitState::Online;
    std::string reason;  // may be empty
    std::int64_t timeMs = 0;
    bool operator==(const StatusMessage&) const = default;
};

// kvx/<site>/<serial>/alarm: the alarm text changed.
struct AlarmMessage {
    std::string text;
    std::int64_t time = 0;
    bool operator==(const AlarmMessage&) const = default;
};

// kvx/<site>/<serial>/archived (retained, from the archive): every record of the unit with
// seq <= through is on the archive's disk.
struct ArchivedMessage {
    std::uint64_t through = 0;
    bool operator==(const ArchivedMessage&) const = default;
};

std::string encodeRecord(const RecordMessage& message);
std::string encodeIdentity(const IdentityMessage& message);
std::string encodeStatus(const StatusMessage& message);
std::string encodeAlarm(const AlarmMessage& message);
std::string encodeArchived(const ArchivedMessage& message);

Decoded<RecordMessage> decodeRecord(std::string_view payload);
// With topicUnit, the identity must name the unit its topic names.
Decoded<IdentityMessage> decodeIdentity(std::string_view payload,
                                        const UnitId* topicUnit = nullptr);
Decoded<StatusMessage> decodeStatus(std::string_view payload);
Decoded<AlarmMessage> decodeAlarm(std::string_view payload);
Decoded<ArchivedMessage> decodeArchived(std::string_view payload);

}  // namespace kvx::fleet
