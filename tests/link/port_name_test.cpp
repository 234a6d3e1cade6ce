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
