#include "agent/agent.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "app/core/program_settings.h"

namespace kvx::agent {

Agent::Agent(const AgentConfig& config, DeviceLink& link, MonitorClock clock, LocalClock logClock)
    : config_(config) {
    RunnerParams p;
    p.settings.portName = config_.port;
    p.settings.slaveId = config_.slave;
    p.settings.speedMin = config_.speedMin;
    p.settings.speedMax = config_.speedMax;
    p.settings.tls = config_.modbusTls;
    p.logFolder = config_.logFolder;
    p.programDir = config_.stateFolder;
    p.replyTimeoutMs = config_.replyTimeoutMs;
    p.link = &link;
    p.clock = std::move(clock);
    p.logClock = std::move(logClock);
    link.setTlsFiles(config_.modbusTls);
    runner_ = std::make_unique<HeadlessRunner>(std::move(p));
}

Agent::~Agent() = default;

bool Agent::prepare(std::string& why) {
    for (const std::string& dir : {config_.logFolder, config_.stateFolder}) {
        if (!createProgramDirectory(dir)) {
            why = dir + ": cannot be made or is not a folder";
            return false;
        }
    }
    if (!journal_.open(config_.stateFolder, config_.logFolder, why)) return false;
    // Every file the log writer opens starts or continues a numbered run.
    runner_->logWriter().setOpenedHook([this](const std::string& path) {
        std::string problem;
        if (!journal_.fileOpened(path, problem))
            std::fprintf(stderr, "kvx-agent: records of %s are logged but not yet numbered: %s\n",
                         path.c_str(), problem.c_str());
    });
    return true;
}

void Agent::startUp() {
    runner_->startUp();
}

void Agent::round(int maxWaitMs) {
    runner_->setWait([this](int ms) {
        if (sink_)
            sink_->wait(ms);
        else if (ms > 0)
            ::usleep(static_cast<useconds_t>(ms) * 1000);
    });
    runner_->runOnce(maxWaitMs);
    std::string problem;
    const std::vector<LoggedRecord> records = journal_.collect(&problem);
    if (problem != lastJournalProblem_) {
        if (!problem.empty())
            std::fprintf(stderr, "kvx-agent: the journal cannot be written: %s\n", problem.c_str());
        lastJournalProblem_ = problem;
    }
    if (!records.empty() && sink_) sink_->logged(records);
}

void Agent::shutDown() {
    runner_->shutDown();
    // The log file is closed: its last records are numbered and go out with the rest.
    const std::vector<LoggedRecord> records = journal_.collect();
    if (sink_) {
        if (!records.empty()) sink_->logged(records);
        sink_->finish();
    }
}

int Agent::run(const std::atomic<bool>& stop) {
    startUp();
    while (!stop.load())
        round();
    shutDown();
    return 0;
}

}  // namespace kvx::agent
