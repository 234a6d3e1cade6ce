#include "fleet/topics.h"

#include <array>

namespace kvx::fleet {
namespace {

constexpr std::array<TopicKind, 5> kKinds{TopicKind::Record, TopicKind::Identity, TopicKind::Status,
                                          TopicKind::Alarm, TopicKind::Archived};

std::string_view nextLevel(std::string_view& rest, bool& more) {
    const auto slash = rest.find('/');
    std::string_view level = rest.substr(0, slash);
    more = slash != std::string_view::npos;
    rest = more ? rest.substr(slash + 1) : std::string_view{};
    return level;
}

}  // namespace

const char* topicKindName(TopicKind kind) {
    switch (kind) {
        case TopicKind::Record:
            return "record";
        case TopicKind::Identity:
            return "identity";
        case TopicKind::Status:
            return "status";
        case TopicKind::Alarm:
            return "alarm";
        case TopicKind::Archived:
            return "archived";
    }
    return "record";
}

std::string checkSite(std::string_view site) {
    if (site.empty()) return "the site name is empty";
    if (site.size() > kMaxSiteLength) return "the site name is longer than 64 characters";
    for (char c : site) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) return "the site name may hold only letters, digits, '_' and '-'";
    }
    return {};
}

std::string topicFor(const UnitId& unit, TopicKind kind) {
    return "kvx/" + unit.site + "/" + std::to_string(unit.serial) + "/" + topicKindName(kind);
}

std::string topicFilter(TopicKind kind) {
    return std::string("kvx/+/+/") + topicKindName(kind);
}

std::string unitName(const UnitId& unit) {
    return unit.site + "/" + std::to_string(unit.serial);
}

Decoded<Topic> parseTopic(std::string_view topic) {
    using R = Decoded<Topic>;
    if (topic.size() > 256) return R::fail("topic too long");
    std::string_view rest = topic;
    bool more = false;
    if (nextLevel(rest, more) != "kvx" || !more) return R::fail("topic does not start with kvx/");
    const std::string_view site = nextLevel(rest, more);
    if (const std::string why = checkSite(site); !why.empty()) return R::fail("topic: " + why);
    if (!more) return R::fail("topic has no serial level");
    const std::string_view serial = nextLevel(rest, more);
    if (serial.empty() || serial.size() > 10 || (serial.size() > 1 && serial[0] == '0'))
        return R::fail("topic: the serial is not a decimal number without leading zeros");
    std::uint64_t n = 0;
    for (char c : serial) {
        if (c < '0' || c > '9')
            return R::fail("topic: the serial is not a decimal number without leading zeros");
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (n > 0xFFFFFFFFu) return R::fail("topic: the serial is above 4294967295");
    if (!more) return R::fail("topic has no kind level");
    const std::string_view kind = nextLevel(rest, more);
    if (more) return R::fail("topic has levels after the kind");
    for (TopicKind k : kKinds) {
        if (kind == topicKindName(k)) {
            return R::ok(Topic{UnitId{std::string(site), static_cast<std::uint32_t>(n)}, k});
        }
    }
    return R::fail("topic kind is not record, identity, status, alarm or archived");
}

}  // namespace kvx::fleet
