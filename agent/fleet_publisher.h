#pragma once
// The agent's side of the fleet: identity (retained), status (retained; the last will says
// offline; "no controller" with the reason while the line is down), alarm changes, and every
// logged record with its sequence number. The archive's retained `archived` message says how
// far it has every record on disk; whatever the agent logged after that is sent again from its
// own log files, oldest first and marked late, on every (re)connection and whenever the archive
// stops advancing behind what was published. While the broker is away records are only logged:
// the resend brings them once it is back.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agent/agent.h"
#include "agent/resend_pacer.h"
#include "fleet/mqtt_client.h"
#include "fleet/payloads.h"
#include "fleet/topics.h"

namespace kvx::agent {

// Where the agent stands, kept in <state>/agent.state (written whole, atomically): the serial
// number of the controller it publishes for and the archive's last `through`.
struct AgentState {
    std::uint32_t serial = 0;
    bool serialKnown = false;
    std::uint64_t through = 0;
};
bool readAgentState(const std::string& stateDir, AgentState& out, std::string& why);
bool writeAgentState(const std::string& stateDir, const AgentState& state, std::string& why);

class FleetPublisher final : public RecordSink {
  public:
    // Resend reads this many records ahead of the broker's acknowledgements at most.
    static constexpr std::size_t kResendWindow = 400;
    // After a (re)connection, how long the retained `archived` may take before resending from
    // the last one known.
    static constexpr int kArchivedWaitMs = 2000;

    FleetPublisher(Agent& agent, fleet::MqttOptions base);
    ~FleetPublisher() override;

    // The state file read; false with why when it is damaged.
    bool prepare(std::string& why);

    void wait(int waitMs) override;
    void logged(const std::vector<LoggedRecord>& records) override;
    void finish() override;

    // For tests and the final line.
    struct Counts {
        std::uint64_t live = 0, late = 0, resends = 0, unreadable = 0;
    };
    Counts counts() const { return counts_; }
    std::uint64_t through() const { return through_.load(); }
    bool connected() const { return client_ && client_->connected(); }

  private:
    using Clock = std::chrono::steady_clock;
    void work();
    void startClient(std::uint32_t serial);
    void publishRecord(const LoggedRecord& record, bool late);
    void publishStatus(fleet::UnitState state, const std::string& reason);
    void followController();
    void pumpResend();
    // Resends every record after the archive's `through` up to `last`.
    void startResend(const char* why, std::uint64_t last);
    void keepState(bool now);
    std::int64_t nowMs() const;

    Agent& agent_;
    fleet::MqttOptions base_;
    std::unique_ptr<fleet::MqttClient> client_;
    std::optional<fleet::UnitId> unit_;
    AgentState state_;
    AgentState stateWritten_;
    Clock::time_point stateWrittenAt_{};

    // Set on the network thread.
    std::mutex mutex_;
    std::condition_variable wake_;
    bool connectedEvent_ = false;
    bool archivedEvent_ = false;
    std::atomic<std::uint64_t> through_{0};

    // Main thread.
    bool online_ = false;                           // the broker connection as last seen here
    std::optional<Clock::time_point> resendAt_;     // a resend planned after a (re)connection
    std::uint64_t resendNext_ = 0, resendEnd_ = 0;  // active when resendNext_ <= resendEnd_
    std::uint64_t publishedHigh_ = 0;
    // The first record published live in this broker session (0 before any): from it on the
    // broker has taken every record as it came, so a resend after the connection stops before.
    std::uint64_t sessionFirstLive_ = 0;
    ResendPacer pacer_;
    bool haveStatus_ = false;
    fleet::UnitState statusState_ = fleet::UnitState::Offline;
    std::string statusReason_;
    std::string alarmText_;
    int identityFirmware_ = -1;
    bool serialMismatch_ = false;
    std::string lastUnreadable_;
    Counts counts_;
};

}  // namespace kvx::agent
