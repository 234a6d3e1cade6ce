// Any bytes as kvx-agent's three files: its configuration, its sequence journal and its place
// file. The configuration is good exactly when no problem is reported, and then holds values
// the agent can use; a journal that is taken gives numbers that only grow, and every number it
// says was given maps to a log file's name (its record may be gone: that is said, not made up);
// a place file that is taken holds a number the payloads can carry.
//
// Input: the configuration's bytes, a zero byte, the journal's bytes, a zero byte, the place
// file's bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "agent/agent_config.h"
#include "agent/fleet_publisher.h"
#include "agent/seq_journal.h"
#include "fuzz_check.h"
#include "log/log_file_name.h"

using namespace kvx;

namespace {

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string& dir = *new std::string([] {
        std::string pattern = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        pattern += "/kvx_fuzz_agent_XXXXXX";
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        return pattern;
    }());
    static const bool cleanupRegistered = [] {
        std::atexit([] {
            ::unlink((dir + "/" + agent::SeqJournal::kFileName).c_str());
            ::unlink((dir + "/agent.state").c_str());
            ::rmdir(dir.c_str());
        });
        return true;
    }();
    (void)cleanupRegistered;

    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts(3);
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t zero = i < 2 ? input.find('\0', at) : std::string::npos;
        parts[static_cast<std::size_t>(i)] =
            input.substr(at, zero == std::string::npos ? std::string::npos : zero - at);
        if (zero == std::string::npos) break;
        at = zero + 1;
    }

    agent::AgentConfig config;
    std::vector<std::string> problems;
    const bool good = agent::parseAgentConfig(parts[0], "/etc/kvx/agent.conf", config, problems);
    FUZZ_CHECK(good == problems.empty());
    if (good) {
        FUZZ_CHECK(agent::isValidSiteName(config.site));
        FUZZ_CHECK(config.slave >= 1 && config.slave <= 247);
        FUZZ_CHECK(!config.port.empty() && !config.credentialsFile.empty());
        FUZZ_CHECK(config.replyTimeoutMs >= 100 && config.replyTimeoutMs <= 60000);
    }

    writeFile(dir + "/" + agent::SeqJournal::kFileName, parts[1]);
    agent::SeqJournal journal;
    std::string why;
    if (journal.open(dir, dir, why)) {
        std::int64_t previous = 1;
        for (const agent::JournalLine& line : journal.lines()) {
            FUZZ_CHECK(line.firstSeq >= previous);
            LogFileHour hour;
            FUZZ_CHECK(parseLogFileName(line.file, hour));
            previous = line.firstSeq;
        }
        FUZZ_CHECK(journal.nextSeq() >= previous);
        agent::LoggedRecord record;
        for (std::int64_t seq : {std::int64_t{1}, previous, journal.nextSeq() - 1})
            (void)journal.read(seq, record, why);
    } else {
        FUZZ_CHECK(!why.empty());
    }

    writeFile(dir + "/agent.state", parts[2]);
    agent::AgentState state;
    why.clear();
    if (agent::readAgentState(dir, state, why))
        FUZZ_CHECK(state.through <= fleet::kMaxSeq);
    else
        FUZZ_CHECK(!why.empty());
    return 0;
}
