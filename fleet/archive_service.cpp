#include "fleet/archive_service.h"

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

#include "base/text_escape.h"

namespace kvx::fleet {
namespace {

MqttOptions clientOptions(const ArchiveOptions& o) {
    MqttOptions m;
    m.broker = o.broker;
    m.clientId = o.clientId;
    m.cleanSession = false;  // the broker queues records for the archive while it is away
    m.credentials = o.credentials;
    m.caFile = o.caFile;
    m.maxInflight = 1000;
    return m;
}

}  // namespace

ArchiveService::ArchiveService(ArchiveOptions options, Log log)
    : options_(std::move(options)),
      log_(std::move(log)),
      store_(options_.directory),
      client_(clientOptions(options_)) {}

ArchiveService::~ArchiveService() {
    stop();
}

std::string ArchiveService::start() {
    if (std::string problem = store_.open(); !problem.empty()) return problem;
    client_.onConnect([this](bool sessionPresent) {
        lastConnectProblem_.clear();
        log_(std::string("connected to the broker") +
             (sessionPresent ? " (session kept)" : " (new session)"));
        std::lock_guard lock(mutex_);
        republish_ = true;
        wake_.notify_one();
    });
    client_.onDisconnect([this](const std::string& reason) {
        // Once per kind of failure, not at every attempt of a long outage.
        if (reason != lastConnectProblem_) log_(reason);
        lastConnectProblem_ = reason;
    });
    client_.onSubscribed([this](const std::string& filter, bool ok) {
        log_(ok ? "subscribed to " + filter
                : "the broker refused the subscription to " + filter + " (its ACL?)");
    });
    client_.onMessage([this](const std::string& topic, std::string_view payload, bool) {
        // Refused here, before it is copied: a payload no decoder would take.
        if (payload.size() > kMaxPayloadBytes) {
            ++refused_;
            log_("skipped a message on " + cli::printable(topic) + ": payload of " +
                 std::to_string(payload.size()) + " bytes is over the limit of " +
                 std::to_string(kMaxPayloadBytes));
            return;
        }
        // A backlog is read no faster than it is written: the network thread waits here, and the
        // broker keeps the rest.
        std::unique_lock lock(mutex_);
        room_.wait(lock, [this] { return queue_.size() < kMaxQueued || workerGone_; });
        queue_.push_back({topic, std::string(payload)});
        wake_.notify_one();
    });
    // Identities first: at a new session the broker then hands over the retained ones before
    // any record. At a kept session the records queued while the archive was away still come
    // first; their units are known from the state file.
    for (TopicKind kind : {TopicKind::Identity, TopicKind::Record}) {
        if (std::string problem = client_.subscribe(topicFilter(kind), 1); !problem.empty())
            return problem;
    }
    worker_ = std::thread([this] { work(); });
    if (std::string problem = client_.start(); !problem.empty()) {
        stop();
        return problem;
    }
    return {};
}

void ArchiveService::handle(const Message& message) {
    const auto topic = parseTopic(message.topic);
    std::string reason;
    if (!topic) {
        reason = topic.reason;
    } else if (topic->kind == TopicKind::Identity) {
        const auto identity = decodeIdentity(message.payload, &topic->unit);
        if (identity) {
            if (store_.learn(topic->unit))
                log_("identity of " + unitName(topic->unit) + " seen: its records are archived");
            return;
        }
        reason = identity.reason;
    } else if (topic->kind != TopicKind::Record) {
        reason = "not a record or identity topic";
    } else if (const auto record = decodeRecord(message.payload); !record) {
        reason = record.reason;
    } else {
        switch (store_.add(topic->unit, *record, reason)) {
            case ArchiveStore::Outcome::Written:
                ++written_;
                if (!record->late) noteDelay(record->publishedMs);
                return;
            case ArchiveStore::Outcome::Duplicate:
                ++duplicates_;
                return;
            case ArchiveStore::Outcome::Refused:
                break;
        }
    }
    ++refused_;
    log_("skipped a message on " + cli::printable(message.topic) + ": " + reason);
}

void ArchiveService::publishArchived(const UnitId& unit, std::uint64_t through) {
    const std::string problem =
        client_.publish(topicFor(unit, TopicKind::Archived), encodeArchived({through}), 1, true);
    if (problem.empty()) {
        unpublished_.erase(unit);
    } else {
        unpublished_.insert(unit);  // again after the next flush or connect
    }
}

std::string ArchiveService::flushAndAcknowledge() {
    std::vector<std::pair<UnitId, std::uint64_t>> changed;
    const std::string problem = store_.flush(changed);
    if (!problem.empty()) return problem;
    for (const auto& [unit, through] : changed)
        publishArchived(unit, through);
    const std::set<UnitId> again = unpublished_;
    for (const UnitId& unit : again)
        publishArchived(unit, store_.through(unit));
    return {};
}

void ArchiveService::work() {
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(options_.flushIntervalMs);
    Clock::time_point firstUnflushed{};
    std::string lastProblem;
    std::unique_lock lock(mutex_);
    while (true) {
        const auto deadline = store_.hasUnflushed() ? firstUnflushed + interval
                                                    : Clock::now() + std::chrono::seconds(1);
        wake_.wait_until(lock, deadline,
                         [this] { return stopping_ || republish_ || !queue_.empty(); });
        std::deque<Message> batch;
        batch.swap(queue_);
        room_.notify_all();
        const bool stopping = stopping_;
        const bool republish = std::exchange(republish_, false);
        lock.unlock();

        if (republish) {
            for (const auto& [unit, through] : store_.allThrough())
                unpublished_.insert(unit);
        }
        const bool wasFlushed = !store_.hasUnflushed();
        for (const Message& m : batch)
            handle(m);
        if (wasFlushed && store_.hasUnflushed()) firstUnflushed = Clock::now();
        const bool flushDue =
            store_.hasUnflushed() && (stopping || Clock::now() >= firstUnflushed + interval);
        if (flushDue || stopping || (!store_.hasUnflushed() && !unpublished_.empty())) {
            const std::string problem = flushAndAcknowledge();
            if (!problem.empty() && problem != lastProblem) log_("cannot flush: " + problem);
            lastProblem = problem;
            // After a failed flush, try again one interval later rather than at once.
            if (!problem.empty()) firstUnflushed = Clock::now();
        }
        lock.lock();
        if (stopping) break;
    }
    workerGone_ = true;
    room_.notify_all();
}

std::string ArchiveService::stop() {
    if (worker_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            wake_.notify_one();
        }
        worker_.join();
    }
    client_.stop();
    // What arrived between the worker's last round and the disconnect; its `archived` goes out
    // at the next start.
    std::deque<Message> rest;
    {
        std::lock_guard lock(mutex_);
        rest.swap(queue_);
    }
    for (const Message& m : rest)
        handle(m);
    std::vector<std::pair<UnitId, std::uint64_t>> changed;
    return store_.flush(changed);
}

void ArchiveService::noteDelay(std::int64_t publishedMs) {
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    // Clocks of two machines may disagree: a negative delay counts as none.
    const std::int64_t delay = std::max<std::int64_t>(0, now - publishedMs);
    std::lock_guard lock(delayMutex_);
    ++delays_[static_cast<std::size_t>(std::min<std::int64_t>(delay, kDelayBuckets - 1))];
}

std::string ArchiveService::delaySummary() const {
    std::lock_guard lock(delayMutex_);
    std::uint64_t total = 0;
    for (std::uint64_t n : delays_)
        total += n;
    if (total == 0) return "no live records";
    auto percentile = [&](double p) {
        const auto wanted = static_cast<std::uint64_t>(p * static_cast<double>(total - 1)) + 1;
        std::uint64_t seen = 0;
        for (std::size_t ms = 0; ms < delays_.size(); ++ms) {
            seen += delays_[ms];
            if (seen >= wanted) {
                return ms + 1 == delays_.size() ? ">= " + std::to_string(ms) + " ms"
                                                : std::to_string(ms) + " ms";
            }
        }
        return std::string("?");
    };
    return std::to_string(total) + " live records, publish to write: median " + percentile(0.5) +
           ", 99th percentile " + percentile(0.99) + ", maximum " + percentile(1.0);
}

ArchiveService::Counts ArchiveService::counts() const {
    return {written_.load(), duplicates_.load(), refused_.load()};
}

}  // namespace kvx::fleet
