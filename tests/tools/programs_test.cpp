// dravo-sim and kvx-probe as programs: their options, output and exit status.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "model/registers.h"
#include "sim/sim_server.h"
#include "tests/tools/child_process.h"

namespace kvx::sim {
namespace {

std::map<std::string, std::string> values(const std::string& out) {
    std::map<std::string, std::string> m;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos && line.rfind("summary:", 0) != 0)
            m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
}

int num(const std::map<std::string, std::string>& m, const std::string& key) {
    const auto it = m.find(key);
    EXPECT_NE(it, m.end()) << key;
    return it == m.end() ? -99999 : std::atoi(it->second.c_str());
}

const std::string kSim = DRAVO_SIM_PATH;
const std::string kProbe = KVX_PROBE_PATH;

TEST(DravoSim, HelpAndBadOptions) {
    const Result help = run({kSim, "--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* opt :
         {"--firmware", "--slave", "--link", "--wire-timing", "--scenario", "--fault", "--seconds",
          "--seed", "cable-pulled", "high-exhaust", "KIND:at=N"})
        EXPECT_NE(help.out.find(opt), std::string::npos) << opt;
    for (const std::vector<std::string>& bad : {std::vector<std::string>{kSim, "--frobnicate"},
                                                {kSim, "--firmware", "104"},
                                                {kSim, "--slave", "0"},
                                                {kSim, "--fault", "gremlins"},
                                                {kSim, "--fault", "late:2"},
                                                {kSim, "--fault", "no-reply:at=0"},
                                                {kSim, "--seconds", "-1"},
                                                {kSim, "--seed"},
                                                {kSim, "--scenario", "fire"},
                                                {kSim, "--units", "0"},
                                                {kSim, "--units", "2", "--link", "x"},
                                                {kSim, "--units", "2", "--served", "x"},
                                                {kSim, "--units", "2", "--listen", "0"},
                                                {kSim, "--serial", "32767", "--units", "2"}}) {
        const Result r = run(bad);
        EXPECT_EQ(r.status, 2) << bad[1];
        EXPECT_NE(r.err.find("dravo-sim: "), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

// The programs share one command-line behaviour: --version names the program and the
// project's version, a bad option is one line on stderr and exit 2.
TEST(Programs, VersionAndBadOptionsAlike) {
    for (const std::string& program : {kSim, kProbe}) {
        const std::string name = std::filesystem::path(program).filename().string();
        const Result version = run({program, "--version"});
        EXPECT_EQ(version.status, 0) << name;
        EXPECT_EQ(version.out, name + " " + std::string(kvx::cli::projectVersion()) + "\n");
        for (const char* bad : {"--bogus", "--slave=abc", "--help=1"}) {
            const Result r = run({program, bad});
            EXPECT_EQ(r.status, 2) << name << " " << bad;
            EXPECT_EQ(r.err.rfind(name + ": ", 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_TRUE(r.out.empty());
        }
    }
    EXPECT_FALSE(std::string(kvx::cli::projectVersion()).empty());
}

TEST(DravoSim, ServesUntilSignalledWithItsLinkAndSummary) {
    const std::string link =
        (std::filesystem::temp_directory_path() / ("dravo-link-" + std::to_string(::getpid())))
            .string();
    Child c = spawn({kSim, "--link", link, "--firmware", "106", "--seconds", "120"});
    ASSERT_GT(c.pid, 0);
    const std::string device = readLine(c.out, 5000);
    ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), device);

    const Result probe = run({kProbe, "--port", link});
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(num(values(probe.out), "version"), 106);

    ::kill(c.pid, SIGTERM);
    const Result r = finish(c);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("dravo-sim: 5 requests served, 0 faults injected, 0 saves"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

// A fleet from one process: each unit on its own device with its own serial number, so agents
// publish under distinct topics; the links go at exit and the summary counts every unit.
TEST(DravoSim, ServesSeveralUnitsEachOnItsOwnDevice) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("dravo-units-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    Child c = spawn(
        {kSim, "--units", "3", "--link-dir", dir.string(), "--serial", "700", "--seconds", "120"});
    ASSERT_GT(c.pid, 0);
    std::vector<std::string> devices;
    for (int i = 0; i < 3; ++i)
        devices.push_back(readLine(c.out, 5000));
    for (int i = 0; i < 3; ++i) {
        const std::filesystem::path link = dir / ("COM" + std::to_string(i + 1));
        ASSERT_EQ(devices[i].rfind("/dev/pts/", 0), 0u) << devices[i];
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), devices[i]);
        const Result probe = run({kProbe, "--port", link.string()});
        EXPECT_EQ(probe.status, 0) << probe.err;
        EXPECT_EQ(num(values(probe.out), "serial_number"), 700 + i);
    }
    EXPECT_NE(devices[0], devices[1]);
    ::kill(c.pid, SIGTERM);
    const Result r = finish(c);
    EXPECT_EQ(r.status, 0);
    // Every unit's requests are counted (a probe makes five or more).
    const auto at = r.out.find("dravo-sim: ");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_GE(std::atoi(r.out.c_str() + at + 11), 15) << r.out;
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    std::filesystem::remove(dir);
}

TEST(DravoSim, DropsTheReplyOfTheRequestItIsToldTo) {
    const std::string link =
        (std::filesystem::temp_directory_path() / ("dravo-at-" + std::to_string(::getpid())))
            .string();
    // The probe's identity and two range reads come first, then its polls' reads.
    Child c = spawn({kSim, "--link", link, "--fault", "no-reply:at=4", "--seconds", "120"});
    ASSERT_GT(c.pid, 0);
    ASSERT_EQ(readLine(c.out, 5000).rfind("/dev/pts/", 0), 0u);
    const Result probe = run({kProbe, "--port", link, "--polls", "3"});
    EXPECT_EQ(probe.status, 1);
    EXPECT_NE(probe.out.find("summary: polls=3 good=2 fail_132=1 "), std::string::npos)
        << probe.out;
    ::kill(c.pid, SIGTERM);
    const Result r = finish(c);
    EXPECT_NE(r.out.find(" 1 faults injected"), std::string::npos) << r.out;
}

TEST(DravoSim, EndsAfterItsSecondsAndNeverReplacesAFile) {
    const Result r = run({kSim, "--seconds", "0.3", "--fault", "bad-crc:0.5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("0 requests served"), std::string::npos);

    const std::string file =
        (std::filesystem::temp_directory_path() / ("dravo-file-" + std::to_string(::getpid())))
            .string();
    {
        FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("keep", f);
        std::fclose(f);
    }
    const Result refused = run({kSim, "--link", file, "--seconds", "5"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("not a symbolic link"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(file), 4u);
    std::filesystem::remove(file);
}

// Runs the probe against an in-process simulator and returns its values. The engine is run a
// minute ahead first: warmed up, and standing still until the test's clock catches up, so the
// probe's values can be compared exactly.
std::map<std::string, std::string> probe(SimServer& server, int* status = nullptr) {
    server.withEngine([](ControllerEngine& e) {
        e.advanceTo(60000);
        return 0;
    });
    const Result r = run({kProbe, "--port", server.devicePath()});
    if (status) *status = r.status;
    EXPECT_TRUE(r.err.empty()) << r.err;
    return values(r.out);
}

TEST(KvxProbe, ShowsTheBlocksEachFirmwareHas) {
    for (int firmware : {100, 105, 106, 117}) {
        SCOPED_TRACE(firmware);
        EngineConfig cfg;
        cfg.firmware = firmware;
        cfg.serialNumber = 4321;
        SimServer server(cfg);
        ASSERT_EQ(server.start(), 0);
        int status = -1;
        const auto v = probe(server, &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(num(v, "version"), firmware);
        EXPECT_EQ(num(v, "serial_number"), 4321);
        EXPECT_EQ(num(v, "modbus_address"), 1);
        EXPECT_EQ(num(v, "pollOk"), 1);
        EXPECT_EQ(num(v, "extShutoffOk"), 1);
        const auto live = [&](int ref) {
            return server.withEngine([&](ControllerEngine& e) { return int{e.input(ref)}; });
        };
        // Block A is read on every version.
        EXPECT_EQ(num(v, "engine_speed"), live(35));
        EXPECT_EQ(num(v, "engine_load"), live(12));
        EXPECT_EQ(num(v, "diesel_flow"), live(37));
        EXPECT_EQ(num(v, "substitution_rate"), live(25));
        EXPECT_EQ(num(v, "vibration_max"), live(42));
        EXPECT_EQ(num(v, "mode_left"), 2);
        EXPECT_EQ(v.at("mode_left_text"), "MODE: A/F CONTROL");
        EXPECT_EQ(num(v, "alarm_flags"), 0);
        EXPECT_EQ(v.at("alarm_status"), "Alarm Status:  Normal operation ! ");
        // Block B106 only from 1.06 on.
        if (firmware >= 106) {
            EXPECT_EQ(num(v, "engine_hp"), live(52));
            EXPECT_GT(num(v, "engine_hp"), num(v, "engine_load"));
            EXPECT_EQ(num(v, "gas_flow"), live(68));
            EXPECT_GT(num(v, "gas_flow"), 0);
            EXPECT_EQ(num(v, "pressure_sp_right"), live(55));
            EXPECT_EQ(num(v, "pressure_fdbk_right"), live(56));
            EXPECT_EQ(num(v, "mode_right"), 2);
            EXPECT_EQ(num(v, "aux_d"), live(62));
        } else {
            for (const char* f : {"engine_hp", "gas_flow", "pressure_sp_right",
                                  "pressure_fdbk_right", "actuator_right", "mode_right", "aux_d"})
                EXPECT_EQ(num(v, f), 0) << f;
            EXPECT_EQ(v.at("mode_right_text"), "MODE: NOT AVAIL");
        }
    }
}

TEST(KvxProbe, HorsepowerIndicatorOnFirmware105TakesTheLoadFromB105) {
    EngineConfig cfg;
    cfg.firmware = 105;
    SimServer server(cfg);
    ASSERT_EQ(server.start(), 0);
    const std::int16_t hp = 2;
    server.withEngine([&](ControllerEngine& e) { return e.writeHolding(90, &hp, 1, 0); });
    const auto v = probe(server);
    const int load = num(v, "engine_load");
    const int kw = server.withEngine([](ControllerEngine& e) { return int{e.input(12)}; });
    // Horsepower from B105 52, not kW from A 12.
    EXPECT_EQ(load, server.withEngine([](ControllerEngine& e) { return int{e.input(52)}; }));
    EXPECT_GT(load, kw);
    EXPECT_EQ(num(v, "engine_hp"), 0);
}

TEST(KvxProbe, FindsComPortsInTheProgramDirectory) {
    SimServer server;
    ASSERT_EQ(server.start(), 0);
    const auto dir =
        std::filesystem::temp_directory_path() / ("kvx-probe-dir-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink(server.devicePath(), dir / "COM5");
    const Result r = run({kProbe, "--port", "COM5", "--data-dir", dir.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(num(values(r.out), "version"), 117);
    std::filesystem::remove_all(dir);
}

TEST(KvxProbe, ReportsFailuresByResultCode) {
    const Result missing = run({kProbe, "--port", "/dev/nonexistent-kvx-port"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("result 66 (MBR_OPEN_FAILED)"), std::string::npos) << missing.err;
    EXPECT_EQ(run({kProbe}).status, 2);
    EXPECT_EQ(run({kProbe, "--port", "x", "--polls", "0"}).status, 2);
    EXPECT_EQ(run({kProbe, "--port", "x", "--slave", "300"}).status, 2);

    EngineConfig cfg;
    cfg.firmware = 100;  // one block per poll
    SimServer server(cfg);
    ASSERT_EQ(server.start(), 0);
    const FaultKind script[] = {FaultKind::none,   FaultKind::none, FaultKind::none,
                                FaultKind::badCrc, FaultKind::none, FaultKind::exception};
    server.scriptFaults(script);
    const Result r = run({kProbe, "--port", server.devicePath(), "--polls", "4"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("summary: polls=4 good=2 fail_129=1 fail_164=1 median_ms="),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("pollOk=1"), std::string::npos);  // the last poll was good
    EXPECT_NE(r.err.find("2 of 4 polls failed, the last: result 164 (MBR_EXCEPTION|4)"),
              std::string::npos)
        << r.err;

    // A controller's own exception code above 31 is still named an exception.
    FaultSettings odd;
    odd.exceptionCode = 0x45;
    server.setFaultSettings(odd);
    const FaultKind again[] = {FaultKind::none, FaultKind::none, FaultKind::none,
                               FaultKind::exception};
    server.scriptFaults(again);
    const Result e = run({kProbe, "--port", server.devicePath()});
    EXPECT_EQ(e.status, 1);
    EXPECT_NE(e.err.find("result 229 (MBR_EXCEPTION)"), std::string::npos) << e.err;
}

TEST(KvxProbe, MonitorShowsEveryFrameAndCountsTheVerdicts) {
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--monitor", "--settings-csv", "a.csv"},
          {"--monitor-file", ""},
          {"--monitor", "x"}}) {
        std::vector<std::string> args{kProbe, "--port", "x"};
        args.insert(args.end(), bad.begin(), bad.end());
        EXPECT_EQ(run(args).status, 2) << bad[0] << " " << bad.back();
    }

    EngineConfig cfg;
    cfg.firmware = 100;  // one block per poll
    SimServer server(cfg);
    ASSERT_EQ(server.start(), 0);
    // A file that cannot be written stops the run before the line is touched.
    const Result unwritable =
        run({kProbe, "--port", server.devicePath(), "--monitor-file", "/nonexistent-kvx/t.txt"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("cannot write /nonexistent-kvx/t.txt"), std::string::npos)
        << unwritable.err;
    EXPECT_EQ(server.stats().requests, 0);

    // The identity and range reads, then a poll with a damaged reply, a good one, an exception
    // and a good one.
    const FaultKind script[] = {FaultKind::none,   FaultKind::none, FaultKind::none,
                                FaultKind::badCrc, FaultKind::none, FaultKind::exception};
    server.scriptFaults(script);
    const Result r = run({kProbe, "--port", server.devicePath(), "--polls", "4", "--monitor"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("monitor: frames=14 requests=7 good=5 timeout=0 bad-crc=1 mismatch=0 "
                         "exception=1 io-failure=0 passed-over=0 not-sent=0 lost=0"),
              std::string::npos)
        << r.out;
    // One line a frame, requests and replies in turn, before the values.
    std::istringstream in(r.out);
    std::vector<std::string> frames;
    for (std::string line; std::getline(in, line);)
        if (line.find(" TX ") == 15 || line.find(" RX ") == 15) frames.push_back(line);
    ASSERT_EQ(frames.size(), 14u) << r.out;
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].substr(15, 4), i % 2 == 0 ? " TX " : " RX ") << frames[i];
    EXPECT_NE(frames[7].find(" bad-crc ("), std::string::npos) << frames[7];
    EXPECT_NE(frames[11].find(" 01 84 04 "), std::string::npos) << frames[11];
    EXPECT_LT(r.out.find(frames.back()), r.out.find("product_type="));
}

TEST(KvxProbe, SettingsBackupIsWholeOrNotAtAll) {
    EXPECT_EQ(run({kProbe, "--port", "x", "--settings-csv"}).status, 2);
    EXPECT_EQ(run({kProbe, "--port", "x", "--settings-csv", "a.csv", "--polls", "3"}).status, 2);

    EngineConfig cfg;
    cfg.firmware = 113;
    SimServer server(cfg);
    ASSERT_EQ(server.start(), 0);
    const auto dir =
        std::filesystem::temp_directory_path() / ("kvx-probe-csv-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "unit.csv").string();

    const Result ok = run({kProbe, "--port", server.devicePath(), "--settings-csv", file});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(values(ok.out).at("rows"), "151");
    std::ifstream in(file, std::ios::binary);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "Dravo SN: 2417 ver. 1.13\r");

    // The fourth settings read (93 x 58) goes unanswered: nothing is written.
    const std::string other = (dir / "other.csv").string();
    const FaultKind script[] = {FaultKind::none,   FaultKind::none, FaultKind::none,
                                FaultKind::none,   FaultKind::none, FaultKind::none,
                                FaultKind::noReply};
    server.scriptFaults(script);
    const Result lost = run({kProbe, "--port", server.devicePath(), "--settings-csv", other});
    EXPECT_EQ(lost.status, 1);
    EXPECT_EQ(lost.err,
              "kvx-probe: settings read of registers 93-150 failed: result 132 "
              "(MBR_REPLY_TIMEOUT)\n");
    EXPECT_FALSE(std::filesystem::exists(other));

    const Result unwritable = run({kProbe, "--port", server.devicePath(), "--settings-csv",
                                   (dir / "missing" / "x.csv").string()});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos) << unwritable.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    std::filesystem::remove_all(dir);
}

// A port the user may not open is the commonest first-day failure with a real adapter: the
// probe says it is a permission and names the dialout group, keeping its result code.
TEST(KvxProbe, NamesTheDialoutGroupWhenThePortIsNotPermitted) {
    const auto device =
        std::filesystem::temp_directory_path() / ("kvx-probe-denied-" + std::to_string(::getpid()));
    { std::ofstream touch(device); }
    std::vector<std::string> command{kProbe, "--port", device.string()};
    if (::geteuid() == 0) {
        // Root opens anything, so the probe runs as nobody.
        const std::string setpriv = "/usr/bin/setpriv";
        const std::vector<std::string> asNobody{setpriv, "--reuid=65534", "--regid=65534",
                                                "--clear-groups"};
        command.insert(command.begin(), asNobody.begin(), asNobody.end());
        std::vector<std::string> version(asNobody);
        version.insert(version.end(), {kProbe, "--version"});
        if (::access(setpriv.c_str(), X_OK) != 0 || run(version).status != 0) {
            std::filesystem::remove(device);
            GTEST_SKIP() << "running as root without setpriv, or nobody cannot run " << kProbe
                         << ": the permission check would not apply";
        }
        ::chmod(device.c_str(), 0600);
    } else {
        ::chmod(device.c_str(), 0);
    }
    const Result r = run(command);
    std::filesystem::remove(device);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("kvx-probe: cannot open " + device.string() +
                              " (Permission denied): result 67 (MBR_PORT_BUSY)\n",
                          0),
              0u)
        << r.err;
    EXPECT_NE(r.err.find("'dialout' group"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sudo usermod -aG dialout $USER"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("log out and in again"), std::string::npos) << r.err;

    // A port that is not there is not a matter of groups.
    const Result missing = run({kProbe, "--port", "/dev/nonexistent-kvx-port"});
    EXPECT_NE(missing.err.find("(No such file or directory)"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.err.find("dialout"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace kvx::sim

namespace kvx::sim {
namespace {

std::string fileText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Sets a row of a settings file (the header too for serial_number).
void setRow(std::string& text, const std::string& name, int value) {
    const auto at = text.find("\n" + name + ",");
    ASSERT_NE(at, std::string::npos) << name;
    const auto end = text.find('\r', at);
    text.replace(at + 2 + name.size(), end - at - 2 - name.size(), std::to_string(value));
}

struct SettingsDir {
    SettingsDir()
        : path(std::filesystem::temp_directory_path() /
               ("kvx-restore-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~SettingsDir() { std::filesystem::remove_all(path); }
    std::string file(const char* name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
        return (path / name).string();
    }
    std::filesystem::path path;
};

TEST(KvxProbe, SettingsDiffAndRestoreTellDifferencesFailuresAndUsageApart) {
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--settings-diff"},
          {"--settings-diff", "a", "--settings-restore", "b"},
          {"--settings-diff", "a", "--settings-csv", "b"},
          {"--settings-diff", "a", "--polls", "2"},
          {"--settings-diff", "a", "--yes"},
          {"--settings-restore", "a", "--include", "serial_number"}}) {
        std::vector<std::string> args{kProbe, "--port", "x"};
        args.insert(args.end(), bad.begin(), bad.end());
        EXPECT_EQ(run(args).status, 2) << bad[0] << " " << bad.back();
    }

    SimServer server;
    ASSERT_EQ(server.start(), 0);
    const SettingsDir dir;
    const std::string port = server.devicePath();
    const std::string backup = (dir.path / "unit.csv").string();
    ASSERT_EQ(run({kProbe, "--port", port, "--settings-csv", backup}).status, 0);
    std::string text = fileText(backup);
    const auto holding = [&server](int ref) {
        return server.withEngine([ref](ControllerEngine& e) { return e.holding(ref); });
    };
    const auto saves = [&server] {
        return server.withEngine([](ControllerEngine& e) { return e.saveCount(); });
    };

    const Result same = run({kProbe, "--port", port, "--settings-diff", backup});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_NE(same.out.find("differences: 0\n"), std::string::npos) << same.out;

    setRow(text, "load_sp0", 1500);
    setRow(text, "low_batt_limit", 236);
    setRow(text, "modbus_address", 9);
    const std::string changed = dir.file("changed.csv", text);
    const Result diff = run({kProbe, "--port", port, "--settings-diff", changed});
    EXPECT_EQ(diff.status, 1) << diff.err;
    EXPECT_NE(diff.out.find("   41  load_sp0                               1000       1500  "
                            "100.0 kW -> 150.0 kW\n"),
              std::string::npos)
        << diff.out;
    EXPECT_NE(diff.out.find("differences: 3\n"), std::string::npos);

    // Without --yes: the plan, and nothing written.
    const int savesBefore = saves();
    const Result plan = run({kProbe, "--port", port, "--settings-restore", changed});
    EXPECT_EQ(plan.status, 0) << plan.err;
    EXPECT_NE(plan.out.find("plan: 2 writes (nothing is written without --yes)\n"),
              std::string::npos)
        << plan.out;
    EXPECT_NE(plan.out.find("modbus_address not written"), std::string::npos);
    EXPECT_EQ(holding(41), 1000);
    EXPECT_EQ(saves(), savesBefore);

    const Result restored = run({kProbe, "--port", port, "--settings-restore", changed, "--yes"});
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_NE(restored.out.find("\nsaved\n"), std::string::npos) << restored.out;
    EXPECT_EQ(holding(41), 1500);
    EXPECT_EQ(holding(107), 236);
    EXPECT_EQ(holding(4), 1);
    EXPECT_EQ(saves(), savesBefore + 1);
    // Only modbus_address still differs, which a restore writes only when asked for.
    EXPECT_EQ(run({kProbe, "--port", port, "--settings-diff", changed}).status, 0);
    EXPECT_EQ(
        run({kProbe, "--port", port, "--settings-diff", changed, "--include", "modbus_address"})
            .status,
        1);

    // A write the controller refuses: what was written is said, and nothing is saved.
    setRow(text, "load_sp1", 2100);
    setRow(text, "load_sp2", 3100);
    const std::string more = dir.file("more.csv", text);
    // Identity, two range reads and six settings reads go through; the second write fails.
    std::vector<FaultKind> script(10, FaultKind::none);
    script.push_back(FaultKind::exception);
    server.scriptFaults(script);
    const Result refused = run({kProbe, "--port", port, "--settings-restore", more, "--yes"});
    EXPECT_EQ(refused.status, 4);
    EXPECT_NE(refused.out.find("Writing load_sp2 failed (result 164)"), std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("Written, 1 register: load_sp1."), std::string::npos);
    EXPECT_NE(refused.out.find("not saved"), std::string::npos);
    EXPECT_EQ(saves(), savesBefore + 1);

    // The address only when asked for; the read-back and the save follow it.
    const Result moved = run({kProbe, "--port", port, "--settings-restore", more, "--yes",
                              "--include", "modbus_address"});
    EXPECT_EQ(moved.status, 0) << moved.err << moved.out;
    EXPECT_EQ(server.withEngine([](ControllerEngine& e) { return e.slaveAddress(); }), 9);
    EXPECT_EQ(saves(), savesBefore + 2);
    EXPECT_EQ(run({kProbe, "--port", port, "--slave", "9", "--settings-diff", more}).status, 0);

    // A file that cannot be used, another firmware's, or no controller: 3, nothing written.
    std::string other = fileText(backup);
    other.replace(other.find("ver. 1.17"), 9, "ver. 1.15");
    other.replace(other.find("version,117"), 11, "version,115");
    other.erase(other.find("high_press_cycles_max,"));
    const std::pair<std::vector<std::string>, const char*> failures[] = {
        {{"--slave", "9", "--settings-diff", dir.file("bad.csv", "Dravo SN: 1\r\n")},
         "line 1: not a settings file header"},
        {{"--slave", "9", "--settings-restore", dir.file("other.csv", other), "--yes"},
         "the file was read from firmware 1.15, the controller runs 1.17"},
        {{"--settings-diff", more}, "identity read failed"},  // slave 1 no longer answers
    };
    for (const auto& [args, error] : failures) {
        std::vector<std::string> command{kProbe, "--port", port};
        command.insert(command.end(), args.begin(), args.end());
        const Result r = run(command);
        EXPECT_EQ(r.status, 3) << error;
        EXPECT_NE(r.err.find(error), std::string::npos) << r.err;
    }
    EXPECT_EQ(saves(), savesBefore + 2);
}

// Another controller's file: its sensor calibration is left out unless asked for.
TEST(KvxProbe, RestoresAnotherControllersCalibrationOnlyWhenAskedFor) {
    for (const auto& bad : {"calibration,serial_number", "calibration,", ",modbus_address"}) {
        const Result r = run({kProbe, "--port", "x", "--settings-restore", "a", "--include", bad});
        EXPECT_EQ(r.status, 2) << bad;
    }
    SimServer server;
    ASSERT_EQ(server.start(), 0);
    const SettingsDir dir;
    const std::string port = server.devicePath();
    const std::string backup = (dir.path / "unit.csv").string();
    ASSERT_EQ(run({kProbe, "--port", port, "--settings-csv", backup}).status, 0);
    std::string text = fileText(backup);
    text.replace(text.find("SN: 2417"), 8, "SN: 3001");
    setRow(text, "serial_number", 3001);
    setRow(text, "watt_meter_input_gain", 1234);
    setRow(text, "hp_offset1", 77);
    setRow(text, "load_sp0", 1500);
    const std::string other = dir.file("other.csv", text);
    const auto holding = [&server](int ref) {
        return server.withEngine([ref](ControllerEngine& e) { return e.holding(ref); });
    };
    const std::int16_t gain = holding(13), offset = holding(148);
    ASSERT_NE(gain, 1234);
    ASSERT_NE(offset, 77);

    const Result left = run({kProbe, "--port", port, "--settings-restore", other, "--yes"});
    EXPECT_EQ(left.status, 0) << left.err << left.out;
    EXPECT_NE(left.out.find("plan: 1 write\n"), std::string::npos) << left.out;
    EXPECT_NE(left.out.find("calibration not written"), std::string::npos) << left.out;
    EXPECT_NE(left.out.find("--include calibration"), std::string::npos) << left.out;
    EXPECT_EQ(holding(41), 1500);
    EXPECT_EQ(holding(13), gain);
    EXPECT_EQ(holding(148), offset);

    const Result asked = run({kProbe, "--port", port, "--settings-restore", other, "--yes",
                              "--include", "modbus_address,calibration"});
    EXPECT_EQ(asked.status, 0) << asked.err << asked.out;
    EXPECT_NE(asked.out.find("plan: 2 writes\n"), std::string::npos) << asked.out;
    EXPECT_EQ(holding(13), 1234);
    EXPECT_EQ(holding(148), 77);
}

// Rows 93-114 of firmware 1.06 to 1.11: the backup holds the controller's values there; a
// backup made before they were read holds 0, and a restore leaves them out unless asked for.
TEST(KvxProbe, BacksUpEveryRowTheControllerGivesAndLeavesOlderBackupsZerosAlone) {
    const SettingsDir dir;
    {
        EngineConfig cfg;
        cfg.firmware = 105;  // no register after 92
        SimServer server(cfg);
        ASSERT_EQ(server.start(), 0);
        const std::string backup = (dir.path / "old105.csv").string();
        const Result r = run({kProbe, "--port", server.devicePath(), "--settings-csv", backup});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(values(r.out)["unread_rows"], "93-114") << r.out;
        EXPECT_NE(fileText(backup).find("\r\nflow_setpoint,0\r\n"), std::string::npos);
    }
    EngineConfig cfg;
    cfg.firmware = 110;
    SimServer server(cfg);
    ASSERT_EQ(server.start(), 0);
    const std::string port = server.devicePath();
    const auto holding = [&server](int ref) {
        return server.withEngine([ref](ControllerEngine& e) { return e.holding(ref); });
    };
    const std::string backup = (dir.path / "unit.csv").string();
    const Result made = run({kProbe, "--port", port, "--settings-csv", backup});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(values(made.out).count("unread_rows"), 0u) << made.out;
    std::string text = fileText(backup);
    for (const auto& [name, ref] : {std::pair{"overspeed", 92},
                                    {"vibrat_load0", 93},
                                    {"flow_setpoint", 104},
                                    {"low_batt_limit", 107},
                                    {"exhaust_temp_max", 108},
                                    {"left_bank_sa_address", 114}}) {
        ASSERT_NE(holding(ref), 0) << name;
        EXPECT_NE(
            text.find(std::string("\r\n") + name + "," + std::to_string(holding(ref)) + "\r\n"),
            std::string::npos)
            << name;
    }

    // As a backup made before: 0 from 93 on.
    for (int ref = 93; ref <= 114; ++ref)
        setRow(text, std::string(parameterName(ref)), 0);
    setRow(text, "load_sp0", 1500);
    const std::string old = dir.file("old.csv", text);
    const std::int16_t setpoint = holding(104);
    const Result left = run({kProbe, "--port", port, "--settings-restore", old, "--yes"});
    EXPECT_EQ(left.status, 0) << left.err << left.out;
    EXPECT_NE(left.out.find("plan: 1 write\n"), std::string::npos) << left.out;
    EXPECT_NE(left.out.find("hold 0"), std::string::npos) << left.out;
    EXPECT_NE(left.out.find("--include added_rows"), std::string::npos) << left.out;
    EXPECT_EQ(holding(41), 1500);
    EXPECT_EQ(holding(104), setpoint);

    // Asked for, the file's values are written.
    setRow(text, "flow_setpoint", 444);
    const std::string chosen = dir.file("chosen.csv", text);
    const Result asked = run(
        {kProbe, "--port", port, "--settings-restore", chosen, "--yes", "--include", "added_rows"});
    EXPECT_EQ(asked.status, 0) << asked.err << asked.out;
    EXPECT_NE(asked.out.find("plan: 20 writes\n"), std::string::npos) << asked.out;
    EXPECT_EQ(holding(104), 444);
    EXPECT_EQ(holding(107), 0);
}

// The diff's exit status says whether a restore with the same --include would write
// anything; a difference it leaves alone is still printed.
TEST(KvxProbe, DiffExitsByWhatARestoreWithTheSameOptionsWouldWrite) {
    SimServer server;
    ASSERT_EQ(server.start(), 0);
    const SettingsDir dir;
    const std::string port = server.devicePath();
    const std::string backup = (dir.path / "unit.csv").string();
    ASSERT_EQ(run({kProbe, "--port", port, "--settings-csv", backup}).status, 0);
    const std::string text = fileText(backup);
    const auto with = [&](const char* name, std::vector<std::pair<std::string, int>> rows) {
        std::string t = text;
        for (const auto& [row, value] : rows)
            setRow(t, row, value);
        return dir.file(name, t);
    };
    const std::string address = with("address.csv", {{"modbus_address", 9}});
    const std::string noAddress = with("zero.csv", {{"modbus_address", 0}});
    const std::string setting = with("setting.csv", {{"modbus_address", 9}, {"load_sp0", 1500}});
    struct Case {
        std::string file;
        std::vector<std::string> options;
        int status;
    };
    const Case cases[] = {
        {backup, {}, 0},
        {address, {}, 0},
        {address, {"--include", "modbus_address"}, 1},
        {address, {"--include", "calibration"}, 0},
        {noAddress, {"--include", "modbus_address"}, 0},  // never written: no slave address
        {setting, {}, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> command{kProbe, "--port", port, "--settings-diff", c.file};
        command.insert(command.end(), c.options.begin(), c.options.end());
        const Result r = run(command);
        SCOPED_TRACE(c.file + (c.options.empty() ? "" : " " + c.options.back()));
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        if (c.file == address) {
            EXPECT_NE(r.out.find("differences: 1\n"), std::string::npos) << r.out;
        }
    }
    EXPECT_EQ(run({kProbe, "--port", port, "--settings-diff", address, "--yes"}).status, 2);
}

// Paths and file text quoted in refusals reach the terminal as text: control bytes and bytes
// from 0x80 on are spelled out, so a file name cannot move the cursor or retitle the window.
TEST(KvxProbe, RefusalsSpellOutControlAndHighBytes) {
    const SettingsDir dir;
    const std::string odd = "b\x1b]0;x\x07\xc3\xa9\x9b.csv";
    const std::string bad = dir.file(odd.c_str(), "Dravo\xff\x9b SN: 1\r\n");
    const std::string shownPath = (dir.path / "b\\x1b]0;x\\x07\\xc3\\xa9\\x9b.csv").string();
    SimServer server;
    ASSERT_EQ(server.start(), 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {{"--port", server.devicePath(), "--settings-diff", bad},
         3,
         {shownPath, "\"Dravo\\xff\\x9b SN: 1\""}},
        {{"--port", server.devicePath(), "--settings-csv", bad + "/x.csv"},
         1,
         {"cannot write " + shownPath + "/x.csv"}},
        {{"--port", "/dev/kvx\xe9\x9b[2J"}, 1, {"cannot open /dev/kvx\\xe9\\x9b[2J"}},
    };
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(k);
        std::vector<std::string> command{kProbe};
        command.insert(command.end(), c.args.begin(), c.args.end());
        const Result r = run(command);
        const std::string err = cli::printable(r.err);
        EXPECT_EQ(r.status, c.status) << err;
        for (const std::string& part : c.shown)
            EXPECT_NE(r.err.find(part), std::string::npos) << part << "\n" << err;
        // Where the first byte that is not printable ASCII (nor the line end) is.
        const auto raw = std::find_if(r.err.begin(), r.err.end(), [](char ch) {
            const auto byte = static_cast<unsigned char>(ch);
            return (byte < 0x20 || byte >= 0x7f) && byte != '\n';
        });
        EXPECT_EQ(static_cast<std::size_t>(raw - r.err.begin()), r.err.size()) << err;
    }
}

TEST(DravoSim, StartsFromASettingsFile) {
    const SettingsDir dir;
    std::string text;
    {
        EngineConfig cfg;
        cfg.firmware = 113;
        SimServer server(cfg);
        ASSERT_EQ(server.start(), 0);
        const std::string backup = (dir.path / "unit.csv").string();
        ASSERT_EQ(run({kProbe, "--port", server.devicePath(), "--settings-csv", backup}).status, 0);
        text = fileText(backup);
    }
    text.replace(text.find("SN: 2417"), 8, "SN: 40001");
    setRow(text, "serial_number", 40001);
    setRow(text, "modbus_address", 12);
    setRow(text, "load_sp0", 1500);
    setRow(text, "hour_meter", 4321);
    const std::string file = dir.file("start.csv", text);

    const std::string link = (dir.path / "dev").string();
    Child c = spawn({kSim, "--settings", file, "--link", link, "--seconds", "60"});
    ASSERT_GT(c.pid, 0);
    ASSERT_EQ(readLine(c.out, 5000).rfind("/dev/pts/", 0), 0u);
    const Result probe = run({kProbe, "--port", link, "--slave", "12"});
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(num(values(probe.out), "version"), 113);
    EXPECT_EQ(values(probe.out)["serial_number"], "-25535");  // 40001 as the register reads
    const Result diff = run({kProbe, "--port", link, "--slave", "12", "--settings-diff", file});
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    ::kill(c.pid, SIGTERM);
    EXPECT_EQ(finish(c).status, 0);

    const Result bad = run({kSim, "--settings", dir.file("bad.csv", "x\n")});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("bad.csv: line 1: not a settings file header"), std::string::npos)
        << bad.err;
    EXPECT_EQ(run({kSim, "--settings", file, "--slave", "3"}).status, 2);
}

}  // namespace
}  // namespace kvx::sim
