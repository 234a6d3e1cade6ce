#include "fleet/archive_service.h"

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
        std::lock_guard lock(mutex_);
        queue_.push_back({topic, std::string(payload)});
        wake_.notify_one();
    });
    if (std::string problem = client_.subscribe(topicFilter(TopicKind::Record), 1);
        !problem.empty())
        return problem;
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
    } else if (topic->kind != TopicKind::Record) {
        reason = "not a record topic";
    } else if (const auto record = decodeRecord(message.payload); !record) {
        reason = record.reason;
    } else {
        switch (store_.add(topic->unit, *record, reason)) {
            case ArchiveStore::Outcome::Written:
                ++written_;
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

ArchiveService::Counts ArchiveService::counts() const {
    return {written_.load(), duplicates_.load(), refused_.load()};
}

}  // namespace kvx::fleet
