#include "fleet/payloads.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

#include <nlohmann/json.hpp>

#include "fleet/base64.h"
#include "log/log_file_name.h"

namespace kvx::fleet {
namespace {

// Parsed in order, so values come back in the order they were written.
using json = nlohmann::ordered_json;
using ordered = nlohmann::ordered_json;

// Nesting deeper than any payload has is refused before parsing.
constexpr int kMaxDepth = 4;

std::string dump(const ordered& j) {
    // Texts from a controller need not be UTF-8: replace what is not rather than throw.
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

ordered versioned() {
    ordered j = ordered::object();
    j["v"] = kPayloadVersion;
    return j;
}

// Parses payload as one JSON object: the size, nesting, syntax (trailing bytes included),
// duplicate keys and the version are checked here; on failure reason says why.
std::optional<json> parseObject(std::string_view payload, std::string& reason) {
    if (payload.size() > kMaxPayloadBytes) {
        reason = "payload of " + std::to_string(payload.size()) + " bytes is over the limit of " +
                 std::to_string(kMaxPayloadBytes);
        return std::nullopt;
    }
    int depth = 0;
    bool inString = false, escaped = false;
    for (char c : payload) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxDepth) {
                reason = "payload nested too deeply";
                return std::nullopt;
            }
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    // The keys of the objects being parsed, innermost last; objects are small, so a flat list
    // searched from the current object's start beats a set per object.
    std::vector<std::string> keys;
    std::vector<std::size_t> objectStarts;
    std::string duplicate;
    const json::parser_callback_t track = [&](int, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::object_start) {
            objectStarts.push_back(keys.size());
        } else if (event == json::parse_event_t::object_end) {
            if (!objectStarts.empty()) {
                keys.resize(objectStarts.back());
                objectStarts.pop_back();
            }
        } else if (event == json::parse_event_t::key && !objectStarts.empty()) {
            const auto& key = parsed.get_ref<const std::string&>();
            for (std::size_t i = objectStarts.back(); i < keys.size(); ++i) {
                if (keys[i] == key && duplicate.empty()) duplicate = key;
            }
            keys.push_back(key);
        }
        return true;
    };
    json j = json::parse(payload.begin(), payload.end(), track, false);
    if (j.is_discarded()) {
        reason = "payload is not one well-formed JSON value";
        return std::nullopt;
    }
    if (!duplicate.empty()) {
        reason = "field \"" + duplicate + "\" appears twice";
        return std::nullopt;
    }
    if (!j.is_object()) {
        reason = "payload is not a JSON object";
        return std::nullopt;
    }
    const auto v = j.find("v");
    if (v == j.end()) {
        reason = "no version field \"v\"";
        return std::nullopt;
    }
    if (!v->is_number_integer() || v->get<std::int64_t>() != kPayloadVersion) {
        reason = "version \"v\" is " + v->dump() + ", this program reads version " +
                 std::to_string(kPayloadVersion);
        return std::nullopt;
    }
    return j;
}

// Field readers: each fills out or sets reason naming the field.
class Fields {
  public:
    Fields(const json& object, std::string& reason) : j_(object), reason_(reason) {}

    // Every field of the object must be one of names (besides "v").
    bool onlyKnown(std::initializer_list<const char*> names) {
        for (const auto& item : j_.items()) {
            if (item.key() == "v") continue;
            bool known = false;
            for (const char* n : names)
                known = known || item.key() == n;
            if (!known) return fail("unknown field \"" + item.key() + "\"");
        }
        return true;
    }

    const json* get(const char* name) {
        const auto it = j_.find(name);
        if (it == j_.end()) {
            fail(std::string("field \"") + name + "\" is missing");
            return nullptr;
        }
        return &*it;
    }

    template <typename Int>
    bool integer(const char* name, std::int64_t min, std::uint64_t max, Int& out) {
        const json* f = get(name);
        if (!f) return false;
        if (!f->is_number_integer())
            return fail(std::string("field \"") + name + "\" is not an integer");
        bool inRange;
        if (f->is_number_unsigned()) {
            const auto n = f->get<std::uint64_t>();
            inRange = n <= max && (min <= 0 || n >= static_cast<std::uint64_t>(min));
            if (inRange) out = static_cast<Int>(n);
        } else {
            const auto n = f->get<std::int64_t>();
            inRange = n >= min && (n < 0 || static_cast<std::uint64_t>(n) <= max);
            if (inRange) out = static_cast<Int>(n);
        }
        if (!inRange) {
            return fail(std::string("field \"") + name + "\" is " + f->dump() + ", outside " +
                        std::to_string(min) + ".." + std::to_string(max));
        }
        return true;
    }

    bool text(const char* name, std::size_t maxBytes, bool allowEmpty, std::string& out) {
        const json* f = get(name);
        if (!f) return false;
        if (!f->is_string()) return fail(std::string("field \"") + name + "\" is not a string");
        out = f->get<std::string>();
        if (out.size() > maxBytes) {
            return fail(std::string("field \"") + name + "\" is longer than " +
                        std::to_string(maxBytes) + " bytes");
        }
        if (!allowEmpty && out.empty()) return fail(std::string("field \"") + name + "\" is empty");
        for (unsigned char c : out) {
            if (c < 0x20 && c != '\n' && c != '\t')
                return fail(std::string("field \"") + name + "\" holds a control character");
        }
        return true;
    }

    bool boolean(const char* name, bool& out) {
        const json* f = get(name);
        if (!f) return false;
        if (!f->is_boolean()) return fail(std::string("field \"") + name + "\" is not true/false");
        out = f->get<bool>();
        return true;
    }

    // Base64 of exactly size bytes.
    bool bytes(const char* name, std::size_t size, std::uint8_t* out) {
        const json* f = get(name);
        if (!f) return false;
        return bytesOf(*f, name, size, out);
    }

    bool bytesOf(const json& f, const char* name, std::size_t size, std::uint8_t* out) {
        if (!f.is_string()) return fail(std::string("field \"") + name + "\" is not a string");
        const auto decoded = base64Decode(f.get_ref<const std::string&>());
        if (!decoded) return fail(std::string("field \"") + name + "\" is not valid base64");
        if (decoded->size() != size) {
            return fail(std::string("field \"") + name + "\" holds " +
                        std::to_string(decoded->size()) + " bytes, not " + std::to_string(size));
        }
        std::memcpy(out, decoded->data(), size);
        return true;
    }

    bool fail(std::string why) {
        reason_ = std::move(why);
        return false;
    }

  private:
    const json& j_;
    std::string& reason_;
};

bool isWriterFileName(const std::string& name) {
    LogFileHour hour;
    if (!parseLogFileName(name, hour)) return false;
    LocalDateTime when;
    when.year = hour.year;
    when.month = hour.month;
    when.day = hour.day;
    when.hour = hour.hour;
    return logFileName(when) == name;  // no directory part, no upper case, no leading zeros
}

bool readValues(const json& values, std::vector<EngineeringValue>& out, std::string& reason) {
    if (!values.is_object()) {
        reason = "field \"values\" is not an object";
        return false;
    }
    for (const auto& item : values.items()) {
        const std::string& name = item.key();
        if (!isEngineeringName(name)) {
            reason = "unknown value \"" + name + "\"";
            return false;
        }
        const json& v = item.value();
        if (!v.is_object() || v.size() != 2 || !v.contains("value") || !v.contains("unit")) {
            reason = "value \"" + name + "\" is not {\"value\": number, \"unit\": text}";
            return false;
        }
        const json& number = v.at("value");
        const json& unit = v.at("unit");
        if (!number.is_number() || !std::isfinite(number.get<double>()) ||
            std::fabs(number.get<double>()) > 1e12) {
            reason = "value \"" + name + "\" is not a finite number";
            return false;
        }
        if (!unit.is_string() || unit.get_ref<const std::string&>().size() > 16) {
            reason = "unit of \"" + name + "\" is not a text of at most 16 bytes";
            return false;
        }
        out.push_back({name, number.get<double>(), unit.get<std::string>()});
    }
    return true;
}

}  // namespace

void setRecord(RecordMessage& message, const LogRecord& record) {
    encodeLogRecord(record, message.raw.data());
    message.time = record.time;
}

const char* unitStateName(UnitState state) {
    switch (state) {
        case UnitState::Online:
            return "online";
        case UnitState::Offline:
            return "offline";
        case UnitState::NoController:
            return "no controller";
    }
    return "offline";
}

std::string encodeRecord(const RecordMessage& m) {
    ordered j = versioned();
    j["seq"] = m.seq;
    j["file"] = m.file;
    j["header"] = m.header ? ordered(base64Encode(m.header->data(), m.header->size())) : ordered();
    j["index"] = m.index;
    j["raw"] = base64Encode(m.raw.data(), m.raw.size());
    j["time"] = m.time;
    ordered values = ordered::object();
    for (const EngineeringValue& v : m.values)
        values[v.name] = {{"value", v.value}, {"unit", v.unit}};
    j["values"] = std::move(values);
    j["published_ms"] = m.publishedMs;
    j["late"] = m.late;
    return dump(j);
}

std::string encodeIdentity(const IdentityMessage& m) {
    ordered j = versioned();
    j["site"] = m.site;
    j["serial"] = m.serial;
    j["firmware"] = m.firmware;
    j["slave"] = m.slave;
    j["agent"] = m.agent;
    return dump(j);
}

std::string encodeStatus(const StatusMessage& m) {
    ordered j = versioned();
    j["state"] = unitStateName(m.state);
    j["reason"] = m.reason;
    j["time_ms"] = m.timeMs;
    return dump(j);
}

std::string encodeAlarm(const AlarmMessage& m) {
    ordered j = versioned();
    j["text"] = m.text;
    j["time"] = m.time;
    return dump(j);
}

std::string encodeArchived(const ArchivedMessage& m) {
    ordered j = versioned();
    j["through"] = m.through;
    return dump(j);
}

Decoded<RecordMessage> decodeRecord(std::string_view payload) {
    using R = Decoded<RecordMessage>;
    std::string why;
    const auto j = parseObject(payload, why);
    if (!j) return R::fail("record: " + why);
    Fields f(*j, why);
    RecordMessage m;
    if (!f.onlyKnown(
            {"seq", "file", "header", "index", "raw", "time", "values", "published_ms", "late"}) ||
        !f.integer("seq", 1, kMaxSeq, m.seq) || !f.text("file", 64, false, m.file) ||
        !f.integer("index", 0, kMaxRecordIndex, m.index) ||
        !f.bytes("raw", kLogRecordSize, m.raw.data()) ||
        !f.integer("time", INT32_MIN, INT32_MAX, m.time) ||
        !f.integer("published_ms", 0, kMaxTimeMs, m.publishedMs) || !f.boolean("late", m.late))
        return R::fail("record: " + why);
    if (!isWriterFileName(m.file))
        return R::fail("record: field \"file\" is not a log file name (log_Y_M_D_H.log)");
    const json* header = f.get("header");
    if (!header) return R::fail("record: " + why);
    if (!header->is_null()) {
        LogHeader h{};
        if (!f.bytesOf(*header, "header", h.size(), h.data())) return R::fail("record: " + why);
        if (!findLogHeader(h.data(), h.size(), nullptr))
            return R::fail("record: field \"header\" is not a log file header");
        m.header = h;
    }
    if (m.record().time != m.time) {
        return R::fail("record: field \"time\" is " + std::to_string(m.time) +
                       " but the raw record's time is " + std::to_string(m.record().time));
    }
    const json* values = f.get("values");
    if (!values || !readValues(*values, m.values, why)) return R::fail("record: " + why);
    return R::ok(std::move(m));
}

Decoded<IdentityMessage> decodeIdentity(std::string_view payload, const UnitId* topicUnit) {
    using R = Decoded<IdentityMessage>;
    std::string why;
    const auto j = parseObject(payload, why);
    if (!j) return R::fail("identity: " + why);
    Fields f(*j, why);
    IdentityMessage m;
    if (!f.onlyKnown({"site", "serial", "firmware", "slave", "agent"}) ||
        !f.text("site", kMaxSiteLength, false, m.site) ||
        !f.integer("serial", 0, 0xFFFFFFFFu, m.serial) ||
        !f.integer("firmware", 0, 65535, m.firmware) || !f.integer("slave", 1, 247, m.slave) ||
        !f.text("agent", 64, false, m.agent))
        return R::fail("identity: " + why);
    if (const std::string bad = checkSite(m.site); !bad.empty()) return R::fail("identity: " + bad);
    if (topicUnit && (topicUnit->site != m.site || topicUnit->serial != m.serial)) {
        return R::fail("identity: names " + unitName({m.site, m.serial}) + " on the topic of " +
                       unitName(*topicUnit));
    }
    return R::ok(std::move(m));
}

Decoded<StatusMessage> decodeStatus(std::string_view payload) {
    using R = Decoded<StatusMessage>;
    std::string why;
    const auto j = parseObject(payload, why);
    if (!j) return R::fail("status: " + why);
    Fields f(*j, why);
    StatusMessage m;
    std::string state;
    if (!f.onlyKnown({"state", "reason", "time_ms"}) || !f.text("state", 32, false, state) ||
        !f.text("reason", kMaxTextBytes, true, m.reason) ||
        !f.integer("time_ms", 0, kMaxTimeMs, m.timeMs))
        return R::fail("status: " + why);
    if (state == "online")
        m.state = UnitState::Online;
    else if (state == "offline")
        m.state = UnitState::Offline;
    else if (state == "no controller")
        m.state = UnitState::NoController;
    else
        return R::fail("status: field \"state\" is not online, offline or no controller");
    return R::ok(std::move(m));
}

Decoded<AlarmMessage> decodeAlarm(std::string_view payload) {
    using R = Decoded<AlarmMessage>;
    std::string why;
    const auto j = parseObject(payload, why);
    if (!j) return R::fail("alarm: " + why);
    Fields f(*j, why);
    AlarmMessage m;
    if (!f.onlyKnown({"text", "time"}) || !f.text("text", kMaxTextBytes, true, m.text) ||
        !f.integer("time", INT32_MIN, INT32_MAX, m.time))
        return R::fail("alarm: " + why);
    return R::ok(std::move(m));
}

Decoded<ArchivedMessage> decodeArchived(std::string_view payload) {
    using R = Decoded<ArchivedMessage>;
    std::string why;
    const auto j = parseObject(payload, why);
    if (!j) return R::fail("archived: " + why);
    Fields f(*j, why);
    ArchivedMessage m;
    if (!f.onlyKnown({"through"}) || !f.integer("through", 0, kMaxSeq, m.through))
        return R::fail("archived: " + why);
    return R::ok(m);
}

}  // namespace kvx::fleet
