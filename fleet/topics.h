#pragma once
// The topic layout: kvx/<site>/<serial>/<kind>. A site is [A-Za-z0-9_-]{1,64} (so it can never
// hold a wildcard or a level separator); a serial is the controller's serial number in
// decimal, 0..4294967295, without leading zeros.
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include "fleet/decoded.h"

namespace kvx::fleet {

enum class TopicKind { Record, Identity, Status, Alarm, Archived };

struct UnitId {
    std::string site;
    std::uint32_t serial = 0;
    auto operator<=>(const UnitId&) const = default;
};

struct Topic {
    UnitId unit;
    TopicKind kind = TopicKind::Record;
    bool operator==(const Topic&) const = default;
};

inline constexpr std::size_t kMaxSiteLength = 64;

// "record", "identity", "status", "alarm", "archived".
const char* topicKindName(TopicKind kind);
// Empty when site fits the layout, else the reason.
std::string checkSite(std::string_view site);
// kvx/<site>/<serial>/<kind>; the site must pass checkSite (the caller checked it).
std::string topicFor(const UnitId& unit, TopicKind kind);
// kvx/+/+/<kind>: every unit's topics of one kind.
std::string topicFilter(TopicKind kind);
// "site/serial", as units are named in log lines and status texts.
std::string unitName(const UnitId& unit);

Decoded<Topic> parseTopic(std::string_view topic);

}  // namespace kvx::fleet
