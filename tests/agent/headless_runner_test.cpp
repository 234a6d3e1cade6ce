// The agent's headless poll cycle against the simulator on a pseudo-terminal: it connects and
// logs what kvx-log reads, numbering every record; a pulled cable and its return are recovered
// without anyone (no box, a new try after a pause); a controller that is not there at start is
// found once it answers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "link/rtu_device_link.h"
#include "log/log_reader.h"
#include "sim/sim_server.h"

namespace fs = std::filesystem;

namespace kvx::agent {
namespace {

class Collector final : public RecordSink {
  public:
    explicit Collector(std::vector<LoggedRecord>& into) : into_(into) {}
    void wait(int ms) override {
        if (ms > 0) ::usleep(static_cast<useconds_t>(ms) * 1000);
    }
    void logged(const std::vector<LoggedRecord>& records) override {
        into_.insert(into_.end(), records.begin(), records.end());
    }
    void finish() override { finished = true; }
    bool finished = false;

  private:
    std::vector<LoggedRecord>& into_;
};

class HeadlessRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kvx-agent-run-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        ASSERT_EQ(sim.start(), 0);
        config.port = sim.devicePath();
        config.site = "test";
        config.logFolder = (dir / "logs").string();
        config.stateFolder = (dir / "state").string();
        config.replyTimeoutMs = 300;
        link = std::make_unique<RtuDeviceLink>(config.stateFolder);
        agent = std::make_unique<Agent>(config, *link);
        std::string why;
        ASSERT_TRUE(agent->prepare(why)) << why;
        auto sink = std::make_unique<Collector>(records);
        collector = sink.get();
        agent->setSink(std::move(sink));
    }
    void TearDown() override {
        agent.reset();
        sim.stop();
        fs::remove_all(dir);
    }
    // Runs the agent's rounds until done() or the time is up.
    bool runUntil(const std::function<bool()>& done, int seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            agent->round(50);
            if (done()) return true;
        }
        return false;
    }

    fs::path dir;
    sim::SimServer sim;
    AgentConfig config;
    std::unique_ptr<RtuDeviceLink> link;
    std::unique_ptr<Agent> agent;
    std::vector<LoggedRecord> records;
    Collector* collector = nullptr;
};

TEST_F(HeadlessRunnerTest, LogsNumberedRecordsAndRecoversAPulledCableByItself) {
    agent->startUp();
    ASSERT_TRUE(runUntil([&] { return records.size() >= 10; }, 15));
    const MonitorState& state = agent->runner().controller().state();
    EXPECT_TRUE(state.connected);
    EXPECT_EQ(state.serialNumber, 2417);

    sim.pullCable(6000);
    // Six bad ticks post Connect, which fails and plans a new try; records come back by
    // themselves once the cable is in again.
    ASSERT_TRUE(runUntil([&] { return agent->runner().timerArmed(kTimerReconnect); }, 10));
    EXPECT_FALSE(agent->runner().controller().state().connected);
    const std::size_t during = records.size();
    ASSERT_TRUE(runUntil([&] { return records.size() >= during + 10; }, 30));
    EXPECT_TRUE(agent->runner().controller().state().connected);
    EXPECT_EQ(agent->runner().boxesShown(), 0);

    agent->shutDown();
    EXPECT_TRUE(collector->finished);
    EXPECT_FALSE(agent->runner().logWriter().isOpen());
    // Numbers 1, 2, 3, ... with no gap, each record as it is in its file.
    for (std::size_t i = 0; i < records.size(); ++i)
        ASSERT_EQ(records[i].seq, static_cast<std::int64_t>(i) + 1);
    std::map<std::string, std::vector<const LoggedRecord*>> byFile;
    for (const LoggedRecord& r : records)
        byFile[r.file].push_back(&r);
    std::size_t inFiles = 0;
    for (const auto& [file, rs] : byFile) {
        LogReader reader;
        ASSERT_EQ(reader.open((dir / "logs" / file).string()), 0) << file;
        std::vector<LogRecord> all(static_cast<std::size_t>(reader.recordCount()));
        ASSERT_EQ(reader.readRecords(0, reader.recordCount(), all.data()), reader.recordCount());
        inFiles += all.size();
        for (const LoggedRecord* r : rs)
            EXPECT_EQ(decodeLogRecord(r->raw.data()), all.at(static_cast<std::size_t>(r->index)));
        // The program every user reads the files with reads these.
        const std::string cmd =
            std::string(KVX_LOG_TOOL) + " info " + (dir / "logs" / file).string() + " > /dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << file;
    }
    EXPECT_EQ(inFiles, records.size());
}

TEST_F(HeadlessRunnerTest, AControllerMissingAtStartIsFoundWhenItAnswers) {
    sim.pullCable(12000);
    ::testing::internal::CaptureStderr();
    agent->startUp();
    // The connection sequence gives up (the window's connecting wait would close) and a new
    // try is planned, quietly.
    const bool planned = runUntil([&] { return agent->runner().timerArmed(kTimerReconnect); }, 15);
    const bool found = planned && runUntil([&] { return records.size() >= 5; }, 40);
    agent->shutDown();
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(planned);
    EXPECT_FALSE(agent->runner().connecting());
    ASSERT_TRUE(found);
    EXPECT_EQ(agent->runner().boxesShown(), 0);
    EXPECT_EQ(records.front().seq, 1);
    // The shared poll cycle's lines (the failed try, the recovery, the closing counts) name the
    // program that printed them, as every other line of the agent does.
    EXPECT_NE(err.find("kvx-agent: "), std::string::npos) << err;
    EXPECT_NE(err.find("(try 1 failed, next in "), std::string::npos) << err;
    EXPECT_NE(err.find("connected again after"), std::string::npos) << err;
    EXPECT_NE(err.find(", records logged "), std::string::npos) << err;
    std::size_t at = 0;
    while (at < err.size()) {
        const std::size_t end = err.find('\n', at);
        const std::string line = err.substr(at, end - at);
        EXPECT_TRUE(line.starts_with("kvx-agent: ")) << line;
        at = end == std::string::npos ? err.size() : end + 1;
    }
}

}  // namespace
}  // namespace kvx::agent
