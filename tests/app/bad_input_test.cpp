// Whatever sits in the configuration files' place and whatever is typed on the command line:
// the stated behaviour or a clear error, never a hang, a crash or settings made up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "app/core/options.h"
#include "app/core/program_settings.h"
#include "app/core/simulator_session.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;

class BadConfigFiles : public ::testing::Test {
  protected:
    BadConfigFiles()
        : dir(fs::path(::testing::TempDir()) / ("kvx_bad_cfg_" + std::to_string(::getpid()))) {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~BadConfigFiles() override { fs::remove_all(dir); }
    void put(const char* name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary | std::ios::trunc) << text;
    }
    fs::path dir;
};

TEST_F(BadConfigFiles, ContentsGiveTheirTokensOrKeepTheDefaults) {
    std::string junk;
    for (int i = 0; i < 256; ++i)
        junk += static_cast<char>((i * 151 + 7) & 0xFF);  // every byte value, jumbled
    const std::string hugeLine(10 << 20, '7');
    struct Case {
        const char* what;
        std::string comm, scaling;
        bool read;  // false: not taken as a configuration file at all
        std::string port;
        int slave, min, max;
    };
    const Case cases[] = {
        {"empty", "", "", true, "COM5", 1, 0, 3000},
        {"blanks only", " \n\t\r\n", "\n\n", true, "COM5", 1, 0, 3000},
        {"a port name with spaces ends at the first", "/dev/serial/by-id/usb My Adapter 3", "1 2",
         true, "/dev/serial/by-id/usb", 1, 1, 2},
        {"control bytes stay in the name (opening it then fails)", "CO\x01M\x7f 4", "", true,
         "CO\x01M\x7f", 4, 0, 3000},
        {"negative address and speeds", "COM2 -7", "-32768 -1", true, "COM2", -7, -32768, -1},
        {"numbers out of range", "COM2 2147483648", "65536 -32769", true, "COM2", 1, 0, 3000},
        {"a 10 MB line is not a configuration file", hugeLine, hugeLine, false, "COM5", 1, 0, 3000},
    };
    for (const Case& c : cases) {
        put(kCommFileName, c.comm);
        put(kScalingFileName, c.scaling);
        ProgramSettings s;
        EXPECT_EQ(readCommFile(dir.string(), s), c.read) << c.what;
        EXPECT_EQ(readScalingFile(dir.string(), s), c.read) << c.what;
        EXPECT_EQ(s.portName, c.port) << c.what;
        EXPECT_EQ(s.slaveId, c.slave) << c.what;
        EXPECT_EQ(s.speedMin, c.min) << c.what;
        EXPECT_EQ(s.speedMax, c.max) << c.what;
    }

    // Binary junk: a first token, whatever it is, and no number made up from the rest.
    put(kCommFileName, junk);
    put(kScalingFileName, junk);
    ProgramSettings s;
    EXPECT_TRUE(readCommFile(dir.string(), s));
    EXPECT_TRUE(readScalingFile(dir.string(), s));
    EXPECT_FALSE(s.portName.empty());
    EXPECT_EQ(s.portName.find_first_of(" \t\n\r\v\f"), std::string::npos);
    EXPECT_EQ(s.slaveId, 1);
    EXPECT_EQ(s.speedMin, 0);
    EXPECT_EQ(s.speedMax, 3000);
}

TEST_F(BadConfigFiles, APipeOrADirectoryInTheirPlaceKeepsTheDefaultsWithoutWaiting) {
    // A pipe nobody writes to would block an ordinary open for good; the alarm turns such a
    // hang into a failure here.
    ASSERT_EQ(::mkfifo((dir / kCommFileName).c_str(), 0644), 0);
    fs::create_directory(dir / kScalingFileName);
    std::signal(SIGALRM, SIG_DFL);
    ::alarm(20);
    ProgramSettings s;
    EXPECT_FALSE(readCommFile(dir.string(), s));
    EXPECT_FALSE(readScalingFile(dir.string(), s));
    ::alarm(0);
    EXPECT_EQ(s.portName, "COM5");
    EXPECT_EQ(s.speedMax, 3000);
    // Nor is anything written through them.
    EXPECT_FALSE(writeScalingFile(dir.string(), s));
    EXPECT_TRUE(fs::is_directory(dir / kScalingFileName));
}

TEST(BadOptions, ValuesOutOfRangeAreOneLineErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {"kvx", "--quit-after", "86400.001"},
        {"kvx", "--quit-after", "1e400"},
        {"kvx", "--quit-after", "-0.5"},
        {"kvx", "--quit-after", "inf"},
        {"kvx", "--simulate", "--sim-firmware", "0"},
        {"kvx", "--simulate", "--sim-firmware", "32768"},
        {"kvx", "--simulate", "--sim-firmware", "-113"},
        {"kvx", "--quit-after", "1\n--simulate"},
    };
    for (const auto& args : bad) {
        Options o;
        std::string err;
        EXPECT_EQ(parseOptions(args, o, err), kOptionsError) << args.back();
        EXPECT_NE(err, "") << args.back();
        EXPECT_EQ(err.find('\n'), std::string::npos) << err;
    }
    // Names the simulator does not know, checked after parsing: still one line.
    for (const char* scenario : {"lowSupply\nrm -rf", "\x1b[2J", ""}) {
        Options o;
        std::string err;
        ASSERT_EQ(parseOptions({"kvx", "--simulate", "--sim-scenario", "x"}, o, err), kOptionsOk);
        o.simScenario = scenario;
        EXPECT_FALSE(checkSimulatorOptions(o, err));
        EXPECT_EQ(err.find('\n'), std::string::npos) << err;
        EXPECT_EQ(err.find('\x1b'), std::string::npos) << err;
    }
    Options o;
    std::string err;
    ASSERT_EQ(parseOptions({"kvx", "--simulate", "--sim-firmware", "999"}, o, err), kOptionsOk);
    EXPECT_FALSE(checkSimulatorOptions(o, err));
    EXPECT_NE(err.find("999"), std::string::npos);
}

}  // namespace
}  // namespace kvx
