#pragma once
// A unit shown from an MQTT broker, without Qt and without the connection: what the broker's
// messages mean for the list of units and for the panel. Every message is outside input: one
// that does not decode, or does not fit the unit it claims, is skipped with its reason and
// changes nothing.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "fleet/payloads.h"
#include "fleet/topics.h"
#include "model/live_data.h"

namespace kvx {

// One unit of the list: known from its retained identity, with its last status.
struct BrokerUnit {
    fleet::IdentityMessage identity;
    std::optional<fleet::StatusMessage> status;
};

// "online", "offline", "no controller (reason)", or "unknown" before any status.
std::string unitStatusText(const std::optional<fleet::StatusMessage>& status);

// The units the broker holds identities for, from kvx/+/+/identity and kvx/+/+/status.
class BrokerDirectory {
  public:
    // False, with the reason, when the message was skipped.
    bool take(std::string_view topic, std::string_view payload, std::string& why);
    // Only units with an identity are listed; a status may come before its identity.
    std::map<fleet::UnitId, BrokerUnit> units() const;

  private:
    std::map<fleet::UnitId, fleet::IdentityMessage> identities_;
    std::map<fleet::UnitId, fleet::StatusMessage> statuses_;
};

// The chosen unit's topics, to the panel's record and the status line.
class RemoteUnitFeed {
  public:
    enum class Took {
        Skipped,   // bad or not this unit's: why says so
        Ignored,   // good, but nothing for the panel (a resent or older record, an alarm)
        Record,    // live has the record's fields 0..19
        Status,    // status() changed
        Identity,  // identity() changed
    };

    // identity: what the list showed of the unit, until the broker sends it again.
    explicit RemoteUnitFeed(fleet::UnitId unit,
                            std::optional<fleet::IdentityMessage> identity = std::nullopt)
        : unit_(std::move(unit)), identity_(std::move(identity)) {}

    // The three topics the viewer reads of the unit: record, status, identity.
    static constexpr fleet::TopicKind kTopics[] = {
        fleet::TopicKind::Record, fleet::TopicKind::Status, fleet::TopicKind::Identity};

    Took take(std::string_view topic, std::string_view payload, LiveData& live, std::string& why);

    const fleet::UnitId& unit() const { return unit_; }
    const std::optional<fleet::StatusMessage>& status() const { return status_; }
    const std::optional<fleet::IdentityMessage>& identity() const { return identity_; }
    // The sequence number of the record shown last; 0 before any.
    std::uint64_t shownSeq() const { return shownSeq_; }

  private:
    fleet::UnitId unit_;
    std::optional<fleet::IdentityMessage> identity_;
    std::optional<fleet::StatusMessage> status_;
    std::uint64_t shownSeq_ = 0;
};

// The one line on standard error for a skipped message: the topic (escaped, and cut when
// long) and the reason.
std::string skippedMessageLine(std::string_view topic, std::size_t payloadBytes,
                               const std::string& why);

}  // namespace kvx
