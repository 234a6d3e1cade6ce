// The agent's configuration file: a good file read whole, and every bad value refused with its
// line named, since an agent started with a setting quietly defaulted runs unwatched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/agent_config.h"

namespace kvx::agent {
namespace {

const std::string kGood =
    "# a site's agent\n"
    "port = tcp://gw.local:4001\n"
    "slave = 7\n"
    "site = north-field_2\n"
    "broker = mqtts://broker.example:8883\n"
    "credentials_file = secret/agent.cred\n"
    "ca_file = /etc/ssl/fleet-ca.pem\n"
    "log_folder = /var/lib/kvx-agent/logs\n"
    "state_folder = state\n"
    "speed_min = 100\n"
    "speed_max = 65535\n"
    "reply_timeout_ms = 1500\n";

TEST(AgentConfig, ReadsEveryKeyAndTakesRelativePathsFromTheFilesFolder) {
    AgentConfig c;
    std::vector<std::string> problems;
    ASSERT_TRUE(parseAgentConfig(kGood, "/etc/kvx/agent.conf", c, problems))
        << (problems.empty() ? "" : problems[0]);
    EXPECT_EQ(c.port, "tcp://gw.local:4001");
    EXPECT_EQ(c.slave, 7);
    EXPECT_EQ(c.site, "north-field_2");
    EXPECT_EQ(c.broker, "mqtts://broker.example:8883");
    EXPECT_EQ(c.credentialsFile, "/etc/kvx/secret/agent.cred");
    EXPECT_EQ(c.caFile, "/etc/ssl/fleet-ca.pem");
    EXPECT_EQ(c.logFolder, "/var/lib/kvx-agent/logs");
    EXPECT_EQ(c.stateFolder, "/etc/kvx/state");
    EXPECT_EQ(c.speedMin, 100);
    EXPECT_EQ(c.speedMax, -1);  // 65535 as the scaling file stores it
    EXPECT_EQ(c.replyTimeoutMs, 1500);
}

TEST(AgentConfig, RefusesBadValuesNamingTheLine) {
    struct Case {
        const char* replace;  // the line put in place of the good file's line with this key
        const char* with;
        const char* expected;  // part of the one problem reported
    };
    const Case cases[] = {
        {"slave = 7", "slave = 0", "line 3: slave \"0\" is not"},
        {"slave = 7", "slave = 7x", "line 3: slave"},
        {"site = north-field_2", "site = a/b", "line 4: site \"a/b\""},
        {"site = north-field_2", "site = kvx/+/#", "line 4: site"},
        {"broker = mqtts://broker.example:8883", "broker = http://x", "line 5: broker"},
        {"broker = mqtts://broker.example:8883", "broker = mqtt://", "line 5: broker"},
        {"port = tcp://gw.local:4001", "port = tcp://gw.local", "line 2: port"},
        {"port = tcp://gw.local:4001", "port = tcp://gw.local:99999", "line 2: port"},
        {"speed_max = 65535", "speed_max = 70000", "line 11: speed_max"},
        {"reply_timeout_ms = 1500", "reply_timeout_ms = 5", "line 12: reply_timeout_ms"},
        {"state_folder = state", "state_folder =", "line 9: state_folder"},
        {"slave = 7", "slave = 7\nslave = 8", "line 4: slave is given twice"},
        {"slave = 7", "slvae = 7", "line 3: \"slvae\" is not a setting"},
        {"slave = 7", "slave 7", "line 3: not a setting"},
        {"port = tcp://gw.local:4001\n", "", "port is missing"},
        {"site = north-field_2\n", "", "site is missing"},
        {"credentials_file = secret/agent.cred\n", "", "credentials_file is missing"},
    };
    for (const Case& c : cases) {
        std::string text = kGood;
        const std::size_t at = text.find(c.replace);
        ASSERT_NE(at, std::string::npos) << c.replace;
        text.replace(at, std::string(c.replace).size(), c.with);
        AgentConfig config;
        std::vector<std::string> problems;
        EXPECT_FALSE(parseAgentConfig(text, "/etc/kvx/agent.conf", config, problems)) << c.with;
        ASSERT_EQ(problems.size(), 1u) << c.with;
        EXPECT_NE(problems[0].find(c.expected), std::string::npos)
            << c.with << " gave: " << problems[0];
    }
}

TEST(AgentConfig, AFileThatIsNotOneIsRefused) {
    AgentConfig c;
    std::vector<std::string> problems;
    EXPECT_FALSE(readAgentConfig("/nonexistent/agent.conf", c, problems));
    EXPECT_FALSE(readAgentConfig("/", c, problems));
    EXPECT_EQ(problems.size(), 2u);
}

}  // namespace
}  // namespace kvx::agent
