// The client's settings from outside: broker addresses and the credentials file. The client
// against a real broker is tested with the archive (tests/tools).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "fleet/credentials.h"
#include "fleet/mqtt_client.h"

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

}  // namespace
}  // namespace kvx::fleet
