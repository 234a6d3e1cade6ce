#pragma once
// kvx-archive's work: a persistent MQTT session (fixed client id, clean session off, QoS 1) on
// kvx/+/+/identity and kvx/+/+/record, every good record of a unit whose identity has been seen
// into the ArchiveStore (others skipped: the agent's resend brings them once the identity has
// come), a flush at most 200 ms after a
// write, and kvx/<site>/<serial>/archived {"v":1,"through":S} (retained) once records are on
// the disk. The broker acknowledges a record when the network thread takes it; only
// `archived` says it is on the archive's disk, and the agents resend what it does not cover.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fleet/archive_store.h"
#include "fleet/mqtt_client.h"

namespace kvx::fleet {

struct ArchiveOptions {
    BrokerAddress broker;
    std::string caFile;
    std::optional<Credentials> credentials;
    std::string directory;
    std::string clientId = "kvx-archive";
    int flushIntervalMs = 200;
};

class ArchiveService {
  public:
    using Log = std::function<void(const std::string& line)>;

    ArchiveService(ArchiveOptions options, Log log);
    ~ArchiveService();
    ArchiveService(const ArchiveService&) = delete;
    ArchiveService& operator=(const ArchiveService&) = delete;

    // Opens the store and starts the session; empty on success, else the reason.
    std::string start();
    // Writes and flushes everything received, keeps the state and disconnects. Empty on
    // success, else why something could not be flushed.
    std::string stop();

    struct Counts {
        std::uint64_t written = 0;
        std::uint64_t duplicates = 0;
        std::uint64_t refused = 0;  // bad topic or payload, unknown unit, or a failed write
    };
    Counts counts() const;
    // The delay from an agent's publish time to the record's write, over the live (not late)
    // records written: "N live records, publish to write: median .. ms, 99th percentile .. ms,
    // maximum .. ms". Both clocks must agree for it to mean anything (one machine in a bench).
    std::string delaySummary() const;

  private:
    struct Message {
        std::string topic;
        std::string payload;
    };

    void work();
    void handle(const Message& message);
    std::string flushAndAcknowledge();
    void publishArchived(const UnitId& unit, std::uint64_t through);

    ArchiveOptions options_;
    Log log_;
    ArchiveStore store_;
    MqttClient client_;
    std::thread worker_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable room_;  // the queue has room again
    static constexpr std::size_t kMaxQueued = 20000;
    bool workerGone_ = false;
    std::deque<Message> queue_;
    bool stopping_ = false;
    bool republish_ = false;  // a (re)connect: publish every unit's through again
    std::set<UnitId> unpublished_;
    std::string lastConnectProblem_;  // network thread only

    std::atomic<std::uint64_t> written_{0}, duplicates_{0}, refused_{0};
    void noteDelay(std::int64_t publishedMs);
    static constexpr std::size_t kDelayBuckets = 60'000;  // 1 ms each, the last one "or more"
    mutable std::mutex delayMutex_;
    std::vector<std::uint64_t> delays_ = std::vector<std::uint64_t>(kDelayBuckets);
};

}  // namespace kvx::fleet
