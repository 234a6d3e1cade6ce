// The client's settings from outside: broker addresses and the credentials file; and the
// client reaching a real broker that was down when it started. The client against a real
// broker is otherwise tested with the archive (tests/tools).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "fleet/credentials.h"
#include "fleet/mqtt_client.h"
#include "tests/support/test_broker.h"

namespace kvx::fleet {
namespace {

using testing::HasSubstr;

TEST(FleetBroker, UrlsParseOrAreRefused) {
    const struct {
        const char* url;
        std::optional<BrokerAddress> want;
    } cases[] = {
        {"mqtt://broker.example", BrokerAddress{"broker.example", 1883, false}},
        {"mqtts://broker.example", BrokerAddress{"broker.example", 8883, true}},
        {"mqtt://127.0.0.1:18830", BrokerAddress{"127.0.0.1", 18830, false}},
        {"mqtts://[::1]:8884/", BrokerAddress{"::1", 8884, true}},
        {"tcp://h:1", std::nullopt},
        {"mqtt://", std::nullopt},
        {"mqtt://:1883", std::nullopt},
        {"mqtt://h:0", std::nullopt},
        {"mqtt://h:65536", std::nullopt},
        {"mqtt://h:12x", std::nullopt},
        {"mqtt://user@h:1", std::nullopt},
        {"mqtt://h/path", std::nullopt},
        {"mqtts://[::1", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto got = parseBrokerUrl(c.url);
        EXPECT_EQ(got.value, c.want) << c.url << ": " << got.reason;
        if (!c.want) {
            EXPECT_FALSE(got.reason.empty()) << c.url;
        }
    }
}

TEST(FleetCredentials, OnlyAPrivateFileWithBothLinesIsRead) {
    char dir[] = "/tmp/kvx_fleet_credXXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/cred";
    const struct {
        const char* text;
        mode_t mode;
        const char* user;  // nullptr: refused
        const char* why;
    } cases[] = {
        {"agent-7\ns3cret\n", 0600, "agent-7", ""},
        {"agent-7\r\ns3cret", 0400, "agent-7", ""},
        {"agent-7\ns3cret\n", 0640, nullptr, "group or others"},
        {"agent-7\ns3cret\n", 0604, nullptr, "group or others"},
        {"agent-7\ns3cret\n", 0620, nullptr, "group or others"},
        {"agent-7\n", 0600, nullptr, "password"},
        {"\ns3cret\n", 0600, nullptr, "user name"},
        {"a\nb\nc\n", 0600, nullptr, "more than two lines"},
    };
    for (const auto& c : cases) {
        ::unlink(path.c_str());
        std::ofstream(path) << c.text;
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        const auto got = readCredentialsFile(path);
        if (c.user) {
            ASSERT_TRUE(got) << c.text << ": " << got.reason;
            EXPECT_EQ(got->user, c.user);
            EXPECT_EQ(got->password, "s3cret");
        } else {
            EXPECT_FALSE(got) << c.text;
            EXPECT_THAT(got.reason, HasSubstr(c.why));
        }
    }
    EXPECT_FALSE(readCredentialsFile(std::string(dir) + "/missing"));
    EXPECT_THAT(readCredentialsFile(dir).reason, HasSubstr("regular"));
    ::unlink(path.c_str());
    ::rmdir(dir);
}

// A broker that is down when the client starts (a gateway booting before the network, a broker
// being restarted) is reached once it is up: the client must keep trying from its first
// attempt on, not only after a connection it once had.
TEST(FleetClient, ReachesABrokerThatWasDownAtStart) {
    const std::string dir = "/tmp/kvx-fleet-client-" + std::to_string(::getpid());
    test::TestBroker::Options options;
    options.users = {{"client", "pw-client"}};
    options.acl = "user client\ntopic readwrite kvx/#\n";
    test::TestBroker broker(dir, options);
    std::string why;
    ASSERT_TRUE(broker.configure(why)) << why;
    MqttOptions o;
    o.broker = {"127.0.0.1", broker.port(), false};
    o.clientId = "kvx-fleet-client-test";
    o.credentials = Credentials{"client", "pw-client"};
    o.reconnectMaxSeconds = 2;
    MqttClient client(o);
    ASSERT_EQ(client.start(), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(client.connected());

    ASSERT_TRUE(broker.start(why)) << why;
    bool reached = false;
    for (int i = 0; i < 150 && !reached; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        reached = client.connected();
    }
    client.stop();
    broker.stop();
    std::filesystem::remove_all(dir);
    EXPECT_TRUE(reached) << "no connection within 15 s of the broker's start";
}

}  // namespace
}  // namespace kvx::fleet
