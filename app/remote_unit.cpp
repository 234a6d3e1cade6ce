#include "app/remote_unit.h"

#include <utility>

#include "base/text_escape.h"
#include "log/log_format.h"

namespace kvx {

namespace {

// A topic is outside input too: a line names at most this much of it.
constexpr std::size_t kTopicShown = 160;
constexpr std::size_t kReasonShown = 300;

}  // namespace

std::string unitStatusText(const std::optional<fleet::StatusMessage>& status) {
    if (!status) return "unknown";
    std::string text = fleet::unitStateName(status->state);
    if (status->state == fleet::UnitState::NoController && !status->reason.empty())
        text += " (" + status->reason + ')';
    return text;
}

bool BrokerDirectory::take(std::string_view topic, std::string_view payload, std::string& why) {
    const fleet::Decoded<fleet::Topic> t = fleet::parseTopic(topic);
    if (!t) {
        why = t.reason;
        return false;
    }
    if (t->kind == fleet::TopicKind::Identity) {
        // An empty retained message clears the topic: the unit is gone from the broker.
        if (payload.empty()) {
            identities_.erase(t->unit);
            return true;
        }
        fleet::Decoded<fleet::IdentityMessage> m = fleet::decodeIdentity(payload, &t->unit);
        if (!m) {
            why = m.reason;
            return false;
        }
        identities_[t->unit] = *m;
        return true;
    }
    if (t->kind == fleet::TopicKind::Status) {
        if (payload.empty()) {
            statuses_.erase(t->unit);
            return true;
        }
        fleet::Decoded<fleet::StatusMessage> m = fleet::decodeStatus(payload);
        if (!m) {
            why = m.reason;
            return false;
        }
        statuses_[t->unit] = *m;
        return true;
    }
    why = std::string("not an identity or a status topic");
    return false;
}

std::map<fleet::UnitId, BrokerUnit> BrokerDirectory::units() const {
    std::map<fleet::UnitId, BrokerUnit> out;
    for (const auto& [id, identity] : identities_) {
        BrokerUnit& u = out[id];
        u.identity = identity;
        if (auto it = statuses_.find(id); it != statuses_.end()) u.status = it->second;
    }
    return out;
}

RemoteUnitFeed::Took RemoteUnitFeed::take(std::string_view topic, std::string_view payload,
                                          LiveData& live, std::string& why) {
    const fleet::Decoded<fleet::Topic> t = fleet::parseTopic(topic);
    if (!t) {
        why = t.reason;
        return Took::Skipped;
    }
    if (t->unit != unit_) {
        why = "a message for " + fleet::unitName(t->unit) + ", not for the unit shown (" +
              fleet::unitName(unit_) + ")";
        return Took::Skipped;
    }
    switch (t->kind) {
        case fleet::TopicKind::Record: {
            const fleet::Decoded<fleet::RecordMessage> m = fleet::decodeRecord(payload);
            if (!m) {
                why = m.reason;
                return Took::Skipped;
            }
            // The panel is live: a record resent from the agent's log files, or one older than
            // the record shown, is history (the archive's), not the engine now.
            if (m->late || m->seq <= shownSeq_) return Took::Ignored;
            m->record().toLiveData(live);
            shownSeq_ = m->seq;
            return Took::Record;
        }
        case fleet::TopicKind::Status: {
            if (payload.empty()) {
                status_.reset();
                return Took::Status;
            }
            fleet::Decoded<fleet::StatusMessage> m = fleet::decodeStatus(payload);
            if (!m) {
                why = m.reason;
                return Took::Skipped;
            }
            status_ = std::move(*m.value);
            return Took::Status;
        }
        case fleet::TopicKind::Identity: {
            if (payload.empty()) return Took::Ignored;
            fleet::Decoded<fleet::IdentityMessage> m = fleet::decodeIdentity(payload, &t->unit);
            if (!m) {
                why = m.reason;
                return Took::Skipped;
            }
            identity_ = std::move(*m.value);
            return Took::Identity;
        }
        default:
            return Took::Ignored;
    }
}

std::string skippedMessageLine(std::string_view topic, std::size_t payloadBytes,
                               const std::string& why) {
    const bool cut = topic.size() > kTopicShown;
    std::string line = "broker message on " + cli::printable(topic.substr(0, kTopicShown));
    if (cut) line += "...";
    // A reason may quote the payload.
    line += " (" + std::to_string(payloadBytes) +
            " bytes) skipped: " + cli::printable(std::string_view(why).substr(0, kReasonShown));
    if (why.size() > kReasonShown) line += "...";
    return line;
}

}  // namespace kvx
