#include "link/port_name.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace kvx {
namespace {

namespace fs = std::filesystem;

class PortName : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvx-port-name-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string dir;
};

TEST_F(PortName, DevicePathsAndUnknownNamesPassThrough) {
    EXPECT_EQ(resolvePortName("/dev/ttyUSB0", dir), "/dev/ttyUSB0");
    EXPECT_EQ(resolvePortName("./COM5", dir), "./COM5");
    for (const char* name :
         {"ttyUSB0", "COM", "COM0", "COM05", "COM5x", "COM-1", "COMM5", "", "COM1234567"}) {
        EXPECT_EQ(resolvePortName(name, dir), name) << name;
    }
}

TEST_F(PortName, ComNamesFallBackToTheNumberedSerialPort) {
    EXPECT_EQ(resolvePortName("COM1", dir), "/dev/ttyS0");
    EXPECT_EQ(resolvePortName("COM5", dir), "/dev/ttyS4");
    EXPECT_EQ(resolvePortName("com12", dir), "/dev/ttyS11");
    EXPECT_EQ(resolvePortName("COM3", ""), "/dev/ttyS2");
}

TEST_F(PortName, ComEntryInTheProgramDirectoryWins) {
    fs::create_symlink("/dev/null", dir + "/COM5");
    EXPECT_EQ(resolvePortName("COM5", dir), dir + "/COM5");
    EXPECT_EQ(resolvePortName("Com5", dir + "/"), dir + "/COM5");
    EXPECT_EQ(resolvePortName("COM6", dir), "/dev/ttyS5");

    // A link to a simulator that has gone still names that link, not a real port.
    fs::create_symlink(dir + "/gone", dir + "/COM7");
    EXPECT_EQ(resolvePortName("COM7", dir), dir + "/COM7");
}

}  // namespace
}  // namespace kvx

namespace kvx {
namespace {

TEST(NetworkPortName, ParsesEachSchemeOrSaysWhatIsWrong) {
    struct Case {
        const char* name;
        PortKind kind;
        const char* host;
        int port;
        const char* error;  // a part of the reason; empty when the name parses
    };
    const Case cases[] = {
        {"tcp://10.0.0.7:4001", PortKind::RtuOverTcp, "10.0.0.7", 4001, ""},
        {"TCP://gw.plant-3.example:1", PortKind::RtuOverTcp, "gw.plant-3.example", 1, ""},
        {"modbus-tcp://gw", PortKind::ModbusTcp, "gw", 502, ""},
        {"modbus-tcp://gw:1502", PortKind::ModbusTcp, "gw", 1502, ""},
        {"Modbus-TLS://gw", PortKind::ModbusTls, "gw", 802, ""},
        {"modbus-tls://[::1]:65535", PortKind::ModbusTls, "::1", 65535, ""},
        {"modbus-tcp://[fe80::1]", PortKind::ModbusTcp, "fe80::1", 502, ""},
        {"tcp://[::ffff:127.0.0.1]:502", PortKind::RtuOverTcp, "::ffff:127.0.0.1", 502, ""},
        // Not a network scheme: serial names, exactly as before.
        {"COM5", PortKind::Serial, "", 0, ""},
        {"/dev/ttyUSB0", PortKind::Serial, "", 0, ""},
        {"udp://gw:502", PortKind::Serial, "", 0, ""},
        {"tcp:/gw:502", PortKind::Serial, "", 0, ""},
        {"", PortKind::Serial, "", 0, ""},
        // Network schemes that do not parse.
        {"tcp://", PortKind::RtuOverTcp, "", 0, "tcp:// needs a host"},
        {"tcp://gw", PortKind::RtuOverTcp, "", 0, "tcp:// needs a port: tcp://HOST:PORT"},
        {"tcp://gw:", PortKind::RtuOverTcp, "", 0, "the port after ':' is missing"},
        {"tcp://gw:99999", PortKind::RtuOverTcp, "", 0, "port 99999 is out of range 1-65535"},
        {"tcp://gw:0", PortKind::RtuOverTcp, "", 0, "port 0 is out of range"},
        {"tcp://gw:123456789012345678901", PortKind::RtuOverTcp, "", 0, "out of range"},
        {"tcp://gw:50x", PortKind::RtuOverTcp, "", 0, "\"50x\" is not a number"},
        {"tcp://gw:-1", PortKind::RtuOverTcp, "", 0, "is not a number"},
        {"modbus-tcp://:502", PortKind::ModbusTcp, "", 0, "needs a host"},
        {"modbus-tcp://::1", PortKind::ModbusTcp, "", 0, "an IPv6 address goes in brackets"},
        {"modbus-tcp://[::1", PortKind::ModbusTcp, "", 0, "no closing ']'"},
        {"modbus-tcp://[gw]", PortKind::ModbusTcp, "", 0, "\"gw\" is not an IPv6 address"},
        {"modbus-tcp://[]", PortKind::ModbusTcp, "", 0, "is not an IPv6 address"},
        {"modbus-tcp://[::1]x", PortKind::ModbusTcp, "", 0, "unexpected \"x\" after the host"},
        {"modbus-tls://gw/path", PortKind::ModbusTls, "", 0, "cannot have"},
        {"modbus-tls://g w", PortKind::ModbusTls, "", 0, "cannot have"},
        {"modbus-tls://gw:802/", PortKind::ModbusTls, "", 0, "is not a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PortAddress address;
        std::string error;
        const bool parsed = parsePortName(c.name, address, error);
        EXPECT_EQ(address.kind, c.kind);
        if (*c.error == '\0') {
            EXPECT_TRUE(parsed) << error;
            EXPECT_EQ(address.host, c.host);
            EXPECT_EQ(address.port, c.port);
        } else {
            EXPECT_FALSE(parsed);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
    PortAddress v6{PortKind::ModbusTcp, "::1", 502};
    EXPECT_EQ(hostAndPort(v6), "[::1]:502");
}

}  // namespace
}  // namespace kvx
