#pragma once
// kvx-agent's run: the headless poll cycle logging to its hourly files, every logged record
// numbered through the journal and handed to the publisher.
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "agent/agent_config.h"
#include "agent/headless_runner.h"
#include "agent/seq_journal.h"
#include "link/device_link.h"

namespace kvx::agent {

// What publishes the records (the fleet client); absent, records are only logged and numbered.
class RecordSink {
  public:
    virtual ~RecordSink() = default;
    // Once per loop round, after the poll cycle's work; may wait up to waitMs for the network.
    virtual void wait(int waitMs) = 0;
    // Records just logged, in order.
    virtual void logged(const std::vector<LoggedRecord>& records) = 0;
    // The end of the run (TERM): what can still be sent goes out, briefly.
    virtual void finish() = 0;
};

class Agent {
  public:
    // link: held by the caller. The sink is made once the runner and journal exist.
    using SinkFactory = std::function<std::unique_ptr<RecordSink>(Agent&)>;
    Agent(const AgentConfig& config, DeviceLink& link, MonitorClock clock = systemMonitorClock(),
          LocalClock logClock = currentLocalDateTime);
    ~Agent();

    // Folders made, journal read; false with why (the agent cannot start).
    bool prepare(std::string& why);
    void setSink(std::unique_ptr<RecordSink> sink) { sink_ = std::move(sink); }
    // Start-up, then rounds until stop is set; then the clean end. 0, the exit status.
    int run(const std::atomic<bool>& stop);
    // One round (tests drive the agent themselves).
    void startUp();
    void round(int maxWaitMs = 200);
    void shutDown();

    HeadlessRunner& runner() { return *runner_; }
    SeqJournal& journal() { return journal_; }
    const AgentConfig& config() const { return config_; }

  private:
    AgentConfig config_;
    std::unique_ptr<HeadlessRunner> runner_;
    SeqJournal journal_;
    std::unique_ptr<RecordSink> sink_;
    std::string lastJournalProblem_;
};

}  // namespace kvx::agent
