// Command line, program directory, the two configuration files and the dialog entries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/core/options.h"
#include "app/core/program_settings.h"
#include "app/core/reconnect_backoff.h"
#include "app/core/window_layout.h"
#include "app/core/window_texts.h"
#include "app/dialog_entries.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;

class ConfigFilesTest : public ::testing::Test {
  protected:
    ConfigFilesTest()
        : dir(fs::path(::testing::TempDir()) /
              ("kvx_cfg_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        fs::create_directories(dir);
    }
    ~ConfigFilesTest() override { fs::remove_all(dir); }
    void put(const char* name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    std::string get(const char* name) {
        std::ifstream in(dir / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    fs::path dir;
};

TEST_F(ConfigFilesTest, MissingFilesKeepTheDefaults) {
    ProgramSettings s;
    EXPECT_FALSE(readCommFile(dir.string(), s));
    EXPECT_FALSE(readScalingFile(dir.string(), s));
    EXPECT_EQ(s.portName, "COM5");
    EXPECT_EQ(s.slaveId, 1);
    EXPECT_EQ(s.speedMin, 0);
    EXPECT_EQ(s.speedMax, 3000);
}

TEST_F(ConfigFilesTest, CommFileTokens) {
    struct Case {
        std::string text;
        std::string port;
        int slave;
    };
    const std::string longName(300, 'x');
    const Case cases[] = {
        {"COM3 12", "COM3", 12},
        {"COM7", "COM7", 1},             // only a port name
        {"COM8 abc", "COM8", 1},         // non-numeric address
        {"  COM9\n\t 4x", "COM9", 4},    // leading number of the token
        {"", "COM5", 1},                 // empty file
        {longName + " 3", longName, 3},  // any length, stored whole
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 2",
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", 2},
        {"COM1 99999999999", "COM1", 1},  // out of range
    };
    for (const auto& c : cases) {
        put(kCommFileName, c.text);
        ProgramSettings s;
        EXPECT_TRUE(readCommFile(dir.string(), s));
        EXPECT_EQ(s.portName, c.port) << c.text;
        EXPECT_EQ(s.slaveId, c.slave) << c.text;
    }
}

TEST_F(ConfigFilesTest, CommFileIsWrittenWholeWithoutLineEnd) {
    put(kCommFileName, "COM12345678901234567890 200 and a long tail of old text");
    ProgramSettings s;
    s.portName = "COM2";
    s.slaveId = 17;
    ASSERT_TRUE(writeCommFile(dir.string(), s));
    EXPECT_EQ(get(kCommFileName), "COM2 17");
    ProgramSettings back;
    readCommFile(dir.string(), back);
    EXPECT_EQ(back.portName, "COM2");
    EXPECT_EQ(back.slaveId, 17);
    EXPECT_FALSE(fs::exists(dir / "kvx_comm_config.dat.tmp"));
}

TEST_F(ConfigFilesTest, ScalingFileRoundTripsEverySixteenBitValue) {
    ProgramSettings s;
    s.speedMin = 500;
    s.speedMax = 2500;
    ASSERT_TRUE(writeScalingFile(dir.string(), s));
    EXPECT_EQ(get(kScalingFileName), "500 2500");
    s.speedMin = -1;  // typed as 65535
    s.speedMax = 0;
    ASSERT_TRUE(writeScalingFile(dir.string(), s));
    EXPECT_EQ(get(kScalingFileName), "65535 0");
    ProgramSettings back;
    readScalingFile(dir.string(), back);
    EXPECT_EQ(back.speedMin, -1);
    EXPECT_EQ(back.speedMax, 0);
}

TEST_F(ConfigFilesTest, ScalingFileWithBadTokensKeepsWhatFollows) {
    const struct {
        const char* text;
        int min, max;
    } cases[] = {{"100 200", 100, 200}, {"100", 100, 3000},     {"x 200", 0, 3000},
                 {"100 7e", 100, 3000}, {"-5 70000", -5, 3000}, {"", 0, 3000}};
    for (const auto& c : cases) {
        put(kScalingFileName, c.text);
        ProgramSettings s;
        readScalingFile(dir.string(), s);
        EXPECT_EQ(s.speedMin, c.min) << c.text;
        EXPECT_EQ(s.speedMax, c.max) << c.text;
    }
}

TEST_F(ConfigFilesTest, WritingIntoAMissingDirectoryFailsCleanly) {
    ProgramSettings s;
    EXPECT_FALSE(writeScalingFile((dir / "absent").string(), s));
    EXPECT_FALSE(writeCommFile((dir / "absent").string(), s));
}

TEST_F(ConfigFilesTest, SettingsFileReadsItsSwitchAndNamesEveryBadLine) {
    struct Case {
        const char* text;
        bool reconnect;                     // what the setting is afterwards (it starts off)
        std::vector<std::string> problems;  // the end of each problem line, in order
    };
    const std::vector<Case> cases = {
        {"", false, {}},
        {"reconnect_automatically = yes\n", true, {}},
        {"  reconnect_automatically=ON  \r\n# a comment\n\n", true, {}},
        {"reconnect_automatically = yes\nreconnect_automatically = 0\n", false, {}},
        {"other.program-key = whatever it likes\nreconnect_automatically = true", true, {}},
        {"reconnect_automatically = maybe\n",
         false,
         {"line 1: reconnect_automatically is \"maybe\", not yes or no"}},
        {"reconnect_automatically = \n",
         false,
         {"line 1: reconnect_automatically is \"\", not yes or no"}},
        {"# fine\nreconnect automatically = yes\nno equals sign\n= yes\n",
         false,
         {"line 2: not a setting (key = value): \"reconnect automatically = yes\"",
          "line 3: not a setting (key = value): \"no equals sign\"",
          "line 4: not a setting (key = value): \"= yes\""}},
        {"reconnect_automatically = y\x1b[2Jes\n",
         false,
         {"line 1: control characters in the value of reconnect_automatically"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        put(kOptionsFileName, c.text);
        ProgramSettings s;
        std::vector<std::string> problems;
        readOptionsFile(dir.string(), s, problems);
        EXPECT_EQ(s.reconnectAutomatically, c.reconnect);
        ASSERT_EQ(problems.size(), c.problems.size());
        for (std::size_t i = 0; i < problems.size(); ++i) {
            const std::string& p = problems[i];
            const std::string prefix = (dir / kOptionsFileName).string() + " ";
            EXPECT_EQ(p.substr(0, prefix.size()), prefix);
            EXPECT_EQ(p.substr(prefix.size()), c.problems[i]);
        }
    }
    // A missing file is no problem; one that is not a file is named.
    fs::remove(dir / kOptionsFileName);
    ProgramSettings s;
    std::vector<std::string> problems;
    readOptionsFile(dir.string(), s, problems);
    EXPECT_TRUE(problems.empty());
    fs::create_directory(dir / kOptionsFileName);
    readOptionsFile(dir.string(), s, problems);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("cannot be read"), std::string::npos);
}

TEST_F(ConfigFilesTest, TlsFilesComeFromTheSettingsFileRelativeToTheProgramDirectory) {
    put(kOptionsFileName,
        "tls_ca_file = /etc/kvx/plant-ca.pem\ntls_cert_file = certs/viewer.pem\n"
        "tls_key_file = viewer key.pem\n");
    ProgramSettings s;
    std::vector<std::string> problems;
    readOptionsFile(dir.string(), s, problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(s.tls.ca, "/etc/kvx/plant-ca.pem");
    EXPECT_EQ(s.tls.cert, (dir / "certs/viewer.pem").string());
    EXPECT_EQ(s.tls.key, (dir / "viewer key.pem").string());
    // Not given: left empty, which a modbus-tls open then refuses by name.
    put(kOptionsFileName, "tls_ca_file =\n");
    ProgramSettings none;
    readOptionsFile(dir.string(), none, problems);
    EXPECT_TRUE(none.tls.ca.empty() && none.tls.cert.empty() && none.tls.key.empty());
}

TEST_F(ConfigFilesTest, WritingASettingKeepsEveryOtherLine) {
    std::string why;
    // Created when missing.
    ASSERT_TRUE(writeOption(dir.string(), kReconnectKey, "yes", why)) << why;
    EXPECT_EQ(get(kOptionsFileName), "reconnect_automatically = yes\n");
    // Changed in place where it was last given; comments, other keys and lines that are not
    // settings stay byte for byte.
    const std::string before =
        "# site laptop\r\nreconnect_automatically = yes\r\nagent.site = North 7\n"
        "garbage line\nreconnect_automatically=on\nlast = 1";
    put(kOptionsFileName, before);
    ASSERT_TRUE(writeOption(dir.string(), kReconnectKey, "no", why)) << why;
    EXPECT_EQ(get(kOptionsFileName),
              "# site laptop\r\nreconnect_automatically = yes\r\nagent.site = North 7\n"
              "garbage line\nreconnect_automatically = no\nlast = 1\n");
    ProgramSettings s;
    s.reconnectAutomatically = true;
    std::vector<std::string> problems;
    readOptionsFile(dir.string(), s, problems);
    EXPECT_FALSE(s.reconnectAutomatically);
    // A folder that is not there: refused with the path and the reason, nothing made up.
    EXPECT_FALSE(writeOption((dir / "absent").string(), kReconnectKey, "yes", why));
    EXPECT_NE(why.find("absent/kvx_settings.conf: No such file or directory"), std::string::npos)
        << why;
}

TEST(ReconnectBackoff, DoublesFromTwoSecondsToAMinuteAndStartsAgainAfterASuccess) {
    ReconnectBackoff b;
    std::vector<int> pauses;
    for (int i = 0; i < 8; ++i)
        pauses.push_back(b.next());
    EXPECT_EQ(pauses, (std::vector<int>{2, 4, 8, 16, 32, 60, 60, 60}));
    EXPECT_EQ(b.failures(), 8);
    b.reset();
    EXPECT_EQ(b.failures(), 0);
    EXPECT_EQ(b.next(), 2);
}

TEST_F(ConfigFilesTest, ProgramDirectoryChoiceAndCreation) {
    EXPECT_EQ(programDirectory("/opt/kvx"), "/opt/kvx/");
    EXPECT_EQ(programDirectory("/opt/kvx/"), "/opt/kvx/");
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(programDirectory(""), "/srv/data/Orvik_KVX/");
    ::setenv("XDG_DATA_HOME", "relative/dir", 1);  // ignored: not absolute
    ::setenv("HOME", "/home/tech", 1);
    EXPECT_EQ(programDirectory(""), "/home/tech/.local/share/Orvik_KVX/");
    if (oldXdg)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");

    const std::string nested = (dir / "a/b/Orvik_KVX/").string();
    EXPECT_TRUE(createProgramDirectory(nested));
    EXPECT_TRUE(createProgramDirectory(nested));  // an existing one is fine
    put("file", "x");
    EXPECT_FALSE(createProgramDirectory((dir / "file").string() + "/"));
}

TEST(DialogEntries, PortNamesThroughTheFieldAndBack) {
    // Shown, then read back untouched: every name the file can hold comes back as it was.
    struct Shown {
        std::string name;
        std::string field;
    };
    const Shown shown[] = {
        {"COM5", "5"},
        {"COM12", "12"},
        {"COM255", "255"},
        {"COM300", "300"},  // beyond what may be typed, still kept
        {"COM0", "COM0"},
        {"COM05", "COM05"},
        {"COM", "COM"},
        {"COM-3", "COM-3"},
        {"COM5x", "COM5x"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        {"ttyS0", "ttyS0"},
    };
    for (const Shown& s : shown) {
        EXPECT_EQ(portFieldText(s.name), s.field) << s.name;
        std::string back = "unchanged";
        EXPECT_TRUE(portNameFromField(portFieldText(s.name), s.name, back)) << s.name;
        EXPECT_EQ(back, s.name);
    }

    // Typed over a shown "/dev/ttyACM0".
    struct Typed {
        std::string field;
        const char* name;  // nullptr: refused
    };
    const Typed typed[] = {
        {"7", "COM7"},
        {" +7\t", "COM7"},
        {"007", "COM7"},
        {"1", "COM1"},
        {"255", "COM255"},
        {"/dev/ttyUSB1", "/dev/ttyUSB1"},
        {"  /dev/ttyUSB1 ", "/dev/ttyUSB1"},
        {"./COM5", "./COM5"},
        {"", nullptr},
        {"   ", nullptr},
        {"abc", nullptr},
        {"12ab", nullptr},
        {"-3", nullptr},
        {"0", nullptr},
        {"256", nullptr},
        {"123456789012", nullptr},
        {"7.0", nullptr},
        {"COM7", nullptr},
        {"/dev/tty USB0", nullptr},
        {"/dev/tty\x01", nullptr},
        {"/dev/tty\x7f", nullptr},
        {"/dev/tty\xc3\xa9", nullptr},
        {" /dev/ttyACM0", "/dev/ttyACM0"},  // blanks around the shown path
    };
    for (const Typed& c : typed) {
        std::string name = "unchanged";
        EXPECT_EQ(portNameFromField(c.field, "/dev/ttyACM0", name), c.name != nullptr) << c.field;
        EXPECT_EQ(name, c.name ? c.name : "unchanged") << c.field;
    }
    EXPECT_NE(portFieldAccepts().find("1 to 255"), std::string::npos);
}

TEST(DialogEntries, SpeedLimitFieldIsWholeOrRefused) {
    // Every 16-bit value is shown as the scaling file writes it and reads back to the same bits.
    for (long v = -32768; v <= 32767; ++v) {
        const auto limit = static_cast<std::int16_t>(v);
        ProgramSettings s;
        s.speedMin = limit;
        s.speedMax = 0;
        const std::string text = speedLimitFieldText(limit);
        ASSERT_EQ(text + " 0", scalingFileText(s));
        std::int16_t back = limit == 7 ? 8 : 7;
        ASSERT_TRUE(speedLimitFromField(text, back)) << text;
        ASSERT_EQ(back, limit);
    }
    struct Case {
        const char* field;
        bool taken;
        std::int16_t limit;
    };
    const Case cases[] = {
        {"17", true, 17},    {" 17 ", true, 17}, {"65535", true, -1},
        {"17x", false, 0},   {"-1", false, 0},   {"", false, 0},
        {"65536", false, 0}, {"1.5", false, 0},  {"99999999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        std::int16_t limit = 1234;
        EXPECT_EQ(speedLimitFromField(c.field, limit), c.taken) << c.field;
        EXPECT_EQ(limit, c.taken ? c.limit : 1234) << c.field;
    }
}

TEST(Options, OursAndQtsAndErrors) {
    Options o;
    std::string err;
    EXPECT_EQ(
        parseOptions({"kvx", "--simulate", "--sim-firmware", "113", "--sim-scenario=lowSupply",
                      "--data-dir", "/tmp/d", "--snapshot", "s.png", "--quit-after", "1.5",
                      "-platform", "offscreen", "--style", "Fusion", "-reverse"},
                     o, err),
        kOptionsOk)
        << err;
    EXPECT_TRUE(o.simulate);
    EXPECT_EQ(o.simFirmware.value_or(0), 113);
    EXPECT_EQ(o.simScenario.value_or(""), "lowSupply");
    EXPECT_EQ(o.dataDir.value_or(""), "/tmp/d");
    EXPECT_EQ(o.snapshotPath.value_or(""), "s.png");
    EXPECT_DOUBLE_EQ(o.quitAfterSeconds.value_or(0), 1.5);
    EXPECT_EQ(o.qtArguments, (std::vector<std::string>{"kvx", "-platform", "offscreen", "--style",
                                                       "Fusion", "-reverse"}));

    // A Qt option written with "=" keeps its value and leaves the next argument ours.
    ASSERT_EQ(parseOptions({"kvx", "--platform=offscreen", "--simulate"}, o, err), kOptionsOk)
        << err;
    EXPECT_TRUE(o.simulate);
    EXPECT_EQ(o.qtArguments, (std::vector<std::string>{"kvx", "--platform", "offscreen"}));

    EXPECT_EQ(parseOptions({"kvx", "--help"}, o, err), kOptionsHelp);
    EXPECT_EQ(parseOptions({"kvx", "--version", "-platform", "offscreen"}, o, err),
              kOptionsVersion);
    EXPECT_NE(usageText("orvik-kvx").find("--quit-after SECONDS"), std::string::npos);

    const std::vector<std::vector<std::string>> bad = {
        {"kvx", "--bogus"},
        {"kvx", "-x"},
        {"kvx", "stray"},
        {"kvx", "--quit-after"},
        {"kvx", "--quit-after", "0"},
        {"kvx", "--quit-after", "-3"},
        {"kvx", "--quit-after", "5s"},
        {"kvx", "--quit-after", "nan"},
        {"kvx", "--simulate", "--sim-firmware", "1.17"},
        {"kvx", "--sim-firmware", "117"},  // without --simulate
        {"kvx", "--snapshot", "a.png"},    // without --quit-after
        {"kvx", "--data-dir="},
        {"kvx", "--simulate=yes"},
        {"kvx", "-platform"},
        {"kvx", "--reverse=1"},
        {"kvx", "--version=1"},
        {"kvx", "--quit-after", " 5"},
    };
    for (const auto& args : bad) {
        err.clear();
        EXPECT_EQ(parseOptions(args, o, err), kOptionsError) << args.back();
        EXPECT_FALSE(err.empty()) << args.back();
        EXPECT_EQ(err.find('\n'), std::string::npos) << err;  // one line on stderr
    }
}

TEST(WindowTexts, TitlesAndStatusParts) {
    EXPECT_EQ(startTitle(), "Orvik Dravo Viewer V.1.37 ");
    EXPECT_EQ(firmwareTitle(117), "Orvik Dravo Viewer v.1.37  ___  Firmware v. 1.17 ");
    EXPECT_EQ(firmwareTitle(0), "Orvik Dravo Viewer v.1.37  ___  Firmware v. 0.00 ");
    EXPECT_EQ(firmwareTitle(-5), "Orvik Dravo Viewer v.1.37  ___  Firmware v. -0.05 ");
    EXPECT_EQ(commStatusText(-1), "Communication Status: Waiting for data");
    EXPECT_EQ(commStatusText(0), "Communication Status: Receiving data");
    EXPECT_EQ(commStatusText(100), "Communication Status: Playback Mode");
    for (int code : {1, 6, 10, 99, 101})
        EXPECT_EQ(commStatusText(code), "Communication Status: Time-out");
    EXPECT_EQ(serialNumberText(-3), " Orvik Dravo Serial Nr: -3");
    EXPECT_EQ(indicatorText(2), " Indicator: 2");
}

TEST(WindowLayout, StatusPartEdges) {
    EXPECT_EQ(statusEdgesForWidth(1280), (StatusEdges{134, 284, 948, -1}));
    EXPECT_EQ(statusPartWidths(statusEdgesForWidth(1280), 1280),
              (std::array<int, 4>{134, 150, 664, 332}));
    // At creation part 1 ends left of where it starts: it is empty.
    EXPECT_EQ(statusPartWidths(kStatusEdgesAtCreation, 1280),
              (std::array<int, 4>{150, 0, 1050, 230}));
    EXPECT_EQ(statusPartWidths(kStatusEdgesAtCreation, 900), (std::array<int, 4>{150, 0, 1050, 0}));
}

TEST(WindowLayout, RunStopPlacement) {
    Point p;
    ASSERT_TRUE(runStopPosition(0, 20, 1280, 960, kRunStopClientFactor, p));
    // 4300 / 1280 x 12 x 3.5 = 141.09: about 150 pixels left of the right edge.
    EXPECT_EQ(p, (Point{1280 - 141, 30}));
    ASSERT_TRUE(runStopPosition(100, 50, 1920, 1050, kRunStopFrameFactor, p));
    EXPECT_EQ(p, (Point{100 + 1920 - 157, 62}));
    EXPECT_FALSE(runStopPosition(0, 0, 0, 600, kRunStopClientFactor, p));
}

}  // namespace
}  // namespace kvx
