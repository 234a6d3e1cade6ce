// kvx-archive against a real broker: mosquitto started here on a free loopback port with a
// generated configuration (persistence in a temporary directory, a password file made with
// mosquitto_passwd, the ACL of docs/mqtt.md, TLS with certificates made at test time), and an
// agent written apart from the program (fleet_peer.py, on paho-mqtt) publishing the records of
// real log files made by the viewer's LogWriter. The archive's copy must be byte for byte the
// log file (cmp), whatever the order, the duplicates and the restarts.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fleet/mqtt_client.h"
#include "fleet/payloads.h"
#include "log/log_file_name.h"
#include "log/log_writer.h"
#include "tests/link/test_pki.h"
#include "tests/tools/child_process.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;
using sim::Child;
using testing::HasSubstr;

const std::string kArchive = KVX_ARCHIVE_PATH;
const std::string kPeer = FLEET_PEER_SCRIPT;
const std::string kPython = "/usr/bin/python3";
const std::string kMosquitto = MOSQUITTO_PATH;
const std::string kMosquittoPasswd = MOSQUITTO_PASSWD_PATH;
const std::string kSite = "north";
const std::uint32_t kSerial = 2417;

// The sample ACL of docs/mqtt.md, and a test user that may write anything under kvx/ (to
// publish what no agent could).
const char kAcl[] = R"(# Agents: the user name is the site name.
pattern write kvx/%u/+/record
pattern write kvx/%u/+/identity
pattern write kvx/%u/+/status
pattern write kvx/%u/+/alarm
pattern read kvx/%u/+/archived

user kvx-archive
topic read kvx/+/+/record
topic read kvx/+/+/identity
topic write kvx/+/+/archived

user kvx-viewer
topic read kvx/+/+/identity
topic read kvx/+/+/status
topic read kvx/+/+/alarm
topic read kvx/+/+/record

user tester
topic readwrite kvx/#
)";

struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "kvx-fleet-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool portOpen(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text, mode_t mode = 0600) {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), mode);
}

// A program started with its standard error in a file, stopped by a signal.
struct Process {
    pid_t pid = -1;
    std::string errPath;

    void start(const std::vector<std::string>& args, const std::string& stderrFile) {
        errPath = stderrFile;
        const int err = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, err, 2);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(err);
    }
    // The exit status (128 + signal when killed); -1 when it did not end within 20 s.
    int stop(int signal = SIGTERM) {
        if (pid <= 0) return -1;
        ::kill(pid, signal);
        for (int i = 0; i < 400; ++i) {
            int st = 0;
            if (::waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
        return -1;
    }
    ~Process() { stop(SIGKILL); }
    std::string err() const { return readFile(errPath); }
};

// Polls cond for up to 20 s (no time is asserted: a slow machine only waits longer).
bool eventually(const std::function<bool()>& cond) {
    for (int i = 0; i < 800 && !cond(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    return cond();
}

struct Tls {
    std::string cert, key;
};

class Broker {
  public:
    Broker(const std::string& dir, std::optional<Tls> tls = std::nullopt)
        : dir_(dir), port_(freePort()) {
        fs::create_directories(dir + "/data");
        const std::string passwd = dir + "/passwd";
        for (const char* user : {"north", "kvx-archive", "kvx-viewer", "tester"}) {
            std::vector<std::string> args{kMosquittoPasswd, "-b"};
            if (!fs::exists(passwd)) args.push_back("-c");
            args.insert(args.end(), {passwd, user, std::string("pw-") + user});
            sim::run(args);
            credentials(user);
        }
        writeFile(dir + "/acl", kAcl);
        std::string conf = "listener " + std::to_string(port_) + " 127.0.0.1\n" +
                           "allow_anonymous false\n"
                           "password_file " +
                           passwd +
                           "\n"
                           "acl_file " +
                           dir +
                           "/acl\n"
                           "persistence true\n"
                           "persistence_location " +
                           dir +
                           "/data/\n"
                           "autosave_interval 60\n"
                           "max_queued_messages 1000000\n"
                           "max_inflight_messages 100\n"
                           "user root\n"
                           "log_dest stderr\n";
        if (tls) conf += "certfile " + tls->cert + "\nkeyfile " + tls->key + "\n";
        writeFile(dir + "/mosquitto.conf", conf);
    }
    ~Broker() { stop(); }

    bool start() {
        process_.start({kMosquitto, "-c", dir_ + "/mosquitto.conf"}, dir_ + "/mosquitto.log");
        for (int i = 0; i < 200; ++i) {
            if (portOpen(port_)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }
    void stop() { process_.stop(); }
    int port() const { return port_; }
    std::string log() const { return process_.err(); }

    // The credentials file of user, as the programs want it (mode 0600), written once.
    std::string credentials(const std::string& user) const {
        const std::string path = dir_ + "/cred-" + user;
        if (!fs::exists(path)) writeFile(path, user + "\npw-" + user + "\n");
        return path;
    }

  private:
    std::string dir_;
    int port_;
    Process process_;
};

// Two hourly files as the viewer writes them: the first with its header, the second without
// one (a log opened at connect on an empty file).
struct LogFiles {
    std::vector<std::string> paths;
    int records = 0;
};

LogFiles makeLogs(const std::string& dir, int first, int second) {
    fs::create_directories(dir);
    LogFiles out;
    const struct {
        int hour, count, request;
    } files[] = {{21, first, LogWriter::kRequestHeader}, {22, second, LogWriter::kRequestConnect}};
    for (const auto& f : files) {
        if (f.count == 0) continue;
        LocalDateTime when;
        when.year = 2026;
        when.month = 12;
        when.day = 8;
        when.hour = f.hour;
        when.calendarTime = 1796763600 + (f.hour - 21) * 3600;
        LogWriter writer(dir, [when] { return when; });
        EXPECT_EQ(writer.openLogFile(f.request, 117), LOG_OK);
        for (int i = 0; i < f.count; ++i) {
            LogRecord r;
            r.time = static_cast<std::int32_t>(when.calendarTime + i / 5);  // five a second
            for (int k = 0; k < kLogValueCount; ++k)
                r.values[k] = (i * 31 + k * 7) % 2000 - 100;
            EXPECT_EQ(writer.appendLogRecord(r), LOG_OK);
        }
        EXPECT_EQ(writer.closeLogFile(), LOG_OK);
        out.paths.push_back(logFilePath(dir, when));
        out.records += f.count;
    }
    return out;
}

class FleetArchive : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.path.empty());
        archiveDir_ = tmp_.path + "/archive";
    }

    std::vector<std::string> peerArgs(const std::string& command, const std::string& user,
                                      int port) const {
        return {kPython,
                kPeer,
                command,
                "--port",
                std::to_string(port),
                "--user",
                user,
                "--password-file",
                tmp_.path + "/broker/cred-" + user};
    }

    void startArchive(Process& archive, const Broker& broker, const std::string& url,
                      std::vector<std::string> extra = {}) {
        std::vector<std::string> args{kArchive,
                                      "--broker",
                                      url,
                                      "--dir",
                                      archiveDir_,
                                      "--credentials",
                                      broker.credentials("kvx-archive")};
        args.insert(args.end(), extra.begin(), extra.end());
        const std::string errPath = tmp_.path + "/archive.err";
        const auto before = readFile(errPath).size();
        archive.start(args, errPath);
        // Records published before its first subscription would not be kept for it.
        for (int i = 0; i < 400 && readFile(errPath).find("subscribed to kvx/+/+/record", before) ==
                                       std::string::npos;
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }

    // The archived acknowledgement the peer (as the agent) sees, after waiting for through.
    long waitThrough(const Broker& broker, int through, std::vector<std::string> extra = {}) {
        auto args = peerArgs("wait", "north", broker.port());
        args.insert(args.end(), {"--site", kSite, "--serial", std::to_string(kSerial), "--through",
                                 std::to_string(through)});
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = sim::run(args);
        return r.out.empty() ? -2 : std::stol(r.out);
    }

    sim::Result publish(const Broker& broker, const LogFiles& logs,
                        std::vector<std::string> extra) {
        auto args = peerArgs("publish", "north", broker.port());
        args.insert(args.end(), {"--site", kSite, "--serial", std::to_string(kSerial)});
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), logs.paths.begin(), logs.paths.end());
        return sim::run(args);
    }

    std::string copyOf(const std::string& logPath) const {
        return archiveDir_ + "/" + kSite + "/" + std::to_string(kSerial) + "/" +
               fs::path(logPath).filename().string();
    }

    void expectIdenticalCopies(const LogFiles& logs) {
        for (const std::string& path : logs.paths) {
            const auto r = sim::run({"/usr/bin/cmp", path, copyOf(path)});
            EXPECT_EQ(r.status, 0) << r.out << r.err;
        }
    }

    // "N records written, D duplicates skipped, R messages refused" from the archive's last
    // line.
    static std::vector<long> summary(const std::string& err) {
        std::smatch m;
        const std::regex re(
            "stopped: ([0-9]+) records written, ([0-9]+) duplicates skipped, ([0-9]+) messages "
            "refused");
        std::vector<long> out;
        std::string::const_iterator from = err.begin();
        while (std::regex_search(from, err.end(), m, re)) {
            out = {std::stol(m[1]), std::stol(m[2]), std::stol(m[3])};
            from = m[0].second;
        }
        return out;
    }

    TempDir tmp_;
    std::string archiveDir_;
};

TEST_F(FleetArchive, OutOfOrderDuplicateAndLateRecordsRebuildTheFilesByteForByte) {
    const LogFiles logs = makeLogs(tmp_.path + "/agent", 400, 250);
    Broker broker(tmp_.path + "/broker");
    ASSERT_TRUE(broker.start()) << broker.log();
    Process archive;
    startArchive(archive, broker, "mqtt://127.0.0.1:" + std::to_string(broker.port()));

    const auto sent = publish(broker, logs, {"--order", "shuffle:11", "--duplicates", "60"});
    ASSERT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(waitThrough(broker, logs.records), logs.records) << archive.err();
    ASSERT_EQ(archive.stop(), 0) << archive.err();

    expectIdenticalCopies(logs);
    const auto counts = summary(archive.err());
    ASSERT_EQ(counts.size(), 3u) << archive.err();
    EXPECT_EQ(counts[0], logs.records);  // every record once, never a duplicate
    EXPECT_GE(counts[1], 60);
    EXPECT_EQ(counts[2], 0);
    // The delay is measured over the live records written: a late copy that came first was
    // written instead of its live one.
    std::smatch live;
    const std::string err = archive.err();
    ASSERT_TRUE(std::regex_search(err, live, std::regex("([0-9]+) live records, publish to write")))
        << err;
    EXPECT_LE(std::stol(live[1]), logs.records);
    EXPECT_GE(std::stol(live[1]), logs.records - 60);
    EXPECT_THAT(readFile(archiveDir_ + "/kvx-archive.state"),
                HasSubstr("north 2417 " + std::to_string(logs.records) + "\n"));
}

TEST_F(FleetArchive, ARestartMidStreamLosesNothingThroughThePersistentSession) {
    const LogFiles logs = makeLogs(tmp_.path + "/agent", 500, 100);
    Broker broker(tmp_.path + "/broker");
    ASSERT_TRUE(broker.start()) << broker.log();
    const std::string url = "mqtt://127.0.0.1:" + std::to_string(broker.port());
    Process archive;
    startArchive(archive, broker, url);

    ASSERT_EQ(publish(broker, logs, {"--last", "200"}).status, 0);
    ASSERT_EQ(archive.stop(), 0) << archive.err();  // while records may still be on the way
    // Published while the archive is away: the broker queues them for its session, and hands
    // them over before the retained identity its new subscription brings. No identity among
    // them: the unit is known from the archive's state file.
    ASSERT_EQ(publish(broker, logs, {"--first", "201", "--last", "450", "--no-identity"}).status,
              0);
    startArchive(archive, broker, url);
    ASSERT_EQ(publish(broker, logs, {"--first", "451", "--order", "shuffle:5"}).status, 0);

    EXPECT_EQ(waitThrough(broker, logs.records), logs.records) << archive.err();
    ASSERT_EQ(archive.stop(), 0) << archive.err();
    expectIdenticalCopies(logs);
    const std::string err = archive.err();
    EXPECT_THAT(err, HasSubstr("(session kept)"));
    long written = 0;
    for (std::string::size_type at = 0; (at = err.find("stopped: ", at)) != err.npos; ++at)
        written += std::stol(err.substr(at + 9));
    EXPECT_EQ(written, logs.records);  // over both runs, each record written once
    EXPECT_THAT(err, testing::Not(HasSubstr("skipped a message")));
}

TEST_F(FleetArchive, RecordsOfAUnitWithoutIdentityAreSkippedUntilItArrivesThenResent) {
    const LogFiles logs = makeLogs(tmp_.path + "/agent", 150, 50);
    Broker broker(tmp_.path + "/broker");
    ASSERT_TRUE(broker.start()) << broker.log();
    const std::string url = "mqtt://127.0.0.1:" + std::to_string(broker.port());
    Process archive;
    startArchive(archive, broker, url);

    auto skippedLines = [&] {
        const std::string err = archive.err();
        long n = 0;
        for (std::string::size_type at = 0; (at = err.find("skipped a message", at)) != err.npos;
             ++at)
            ++n;
        return n;
    };
    // A unit that never published its identity: one line each, nothing on the disk.
    ASSERT_EQ(publish(broker, logs, {"--last", "60", "--no-identity"}).status, 0);
    ASSERT_TRUE(eventually([&] { return skippedLines() >= 60; })) << archive.err();
    EXPECT_FALSE(fs::exists(archiveDir_ + "/north")) << archive.err();
    EXPECT_THAT(archive.err(), HasSubstr("north/2417"));
    EXPECT_THAT(archive.err(), HasSubstr("identity"));

    // Its identity, then later records: written at their places, `through` waits for the gap.
    ASSERT_EQ(publish(broker, logs, {"--first", "61", "--order", "shuffle:3"}).status, 0);
    // On the disk above the gap, the gap itself still missing.
    EXPECT_TRUE(eventually([&] {
        return readFile(archiveDir_ + "/kvx-archive.state").find("north 2417 0 61 62 ") !=
               std::string::npos;
    })) << readFile(archiveDir_ + "/kvx-archive.state");
    // The agent's resend after `archived` fills the gap.
    ASSERT_EQ(publish(broker, logs, {"--last", "60", "--no-identity"}).status, 0);
    EXPECT_EQ(waitThrough(broker, logs.records), logs.records) << archive.err();
    ASSERT_EQ(archive.stop(), 0) << archive.err();
    expectIdenticalCopies(logs);
    EXPECT_EQ(skippedLines(), 60);
    EXPECT_EQ(summary(archive.err()), (std::vector<long>{logs.records, 0, 60}));
}

TEST_F(FleetArchive, ABrokerRestartIsRiddenOutByReconnecting) {
    const LogFiles logs = makeLogs(tmp_.path + "/agent", 300, 0);
    Broker broker(tmp_.path + "/broker");
    ASSERT_TRUE(broker.start()) << broker.log();
    Process archive;
    startArchive(archive, broker, "mqtt://127.0.0.1:" + std::to_string(broker.port()));
    ASSERT_EQ(publish(broker, logs, {"--last", "100"}).status, 0);
    EXPECT_EQ(waitThrough(broker, 100), 100);

    broker.stop();
    ASSERT_TRUE(broker.start()) << broker.log();
    // The acknowledgement is retained across the restart (persistence), and the archive comes
    // back by itself to the session the broker kept.
    EXPECT_EQ(waitThrough(broker, 100), 100);
    ASSERT_EQ(publish(broker, logs, {"--first", "101", "--order", "shuffle:9"}).status, 0);
    EXPECT_EQ(waitThrough(broker, logs.records), logs.records) << archive.err();
    ASSERT_EQ(archive.stop(), 0) << archive.err();
    expectIdenticalCopies(logs);
    EXPECT_THAT(archive.err(), HasSubstr("(session kept)"));
}

TEST_F(FleetArchive, BadMessagesAreSkippedWithOneLineAndNothingWritten) {
    const LogFiles logs = makeLogs(tmp_.path + "/agent", 3, 0);
    Broker broker(tmp_.path + "/broker");
    ASSERT_TRUE(broker.start()) << broker.log();
    Process archive;
    startArchive(archive, broker, "mqtt://127.0.0.1:" + std::to_string(broker.port()));

    // A good record's JSON to spoil, from the peer's own encoding (seq 2 of the log).
    const std::string good =
        R"({"v":1,"seq":2,"file":"log_2026_12_8_21.log","header":null,"index":1,"raw":")";
    fleet::RecordMessage m;
    m.file = "log_2026_12_8_21.log";
    LogRecord r;
    r.time = 1796763600;
    fleet::setRecord(m, r);
    const std::string unknownUnitRecord = fleet::encodeRecord(m);
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"kvx/north/2417/record", R"({"v":2,"seq":1})"},
        {"kvx/north/2417/record", R"({"seq":1})"},
        {"kvx/north/2417/record", good},  // truncated
        {"kvx/north/2417/record", "not json"},
        {"kvx/north/2417/record",
         R"({"v":1,"seq":0,"file":"log_2026_12_8_21.log","header":null,"index":0,"raw":"","time":0,"values":{},"published_ms":0,"late":false})"},
        {"kvx/north/2417/record",
         R"({"v":1,"seq":1,"file":"log_2026_12_8_21.log","header":null,"index":0,"raw":"AAAA","time":0,"values":{},"published_ms":0,"late":false})"},
        {"kvx/north/2417/record",
         R"({"v":1,"seq":1,"file":"../../escape.log","header":null,"index":0,"raw":"AAAA","time":0,"values":{},"published_ms":0,"late":false})"},
        {"kvx/north/02417/record", R"({"v":1})"},
        {"kvx/no th/2417/record", R"({"v":1})"},
        // Identities that do not fit their topic or are cut short teach the archive nothing:
        // the good record of that unit that follows is still one of an unknown unit.
        {"kvx/north/2418/identity",
         R"({"v":1,"site":"north","serial":2417,"firmware":117,"slave":1,"agent":"x"})"},
        {"kvx/north/2418/identity", R"({"v":1,"site":"north","serial":2418)"},
        {"kvx/north/2418/identity", ""},
        {"kvx/north/2418/record", unknownUnitRecord},
    };
    for (const auto& [topic, payload] : bad) {
        auto args = peerArgs("raw", "tester", broker.port());
        args.insert(args.end(), {"--topic", topic, "--payload", payload});
        ASSERT_EQ(sim::run(args).status, 0);
    }
    auto big = peerArgs("raw", "tester", broker.port());
    big.insert(big.end(), {"--topic", "kvx/north/2417/record", "--size", "10485760"});
    ASSERT_EQ(sim::run(big).status, 0);
    // An agent cannot publish for another site: the broker drops it (the ACL).
    auto other = peerArgs("publish", "north", broker.port());
    other.insert(other.end(), {"--site", "south", "--serial", "1", logs.paths[0]});
    ASSERT_EQ(sim::run(other).status, 0);

    ASSERT_EQ(publish(broker, logs, {"--last", "1"}).status, 0);
    EXPECT_EQ(waitThrough(broker, 1), 1);
    ASSERT_EQ(archive.stop(), 0) << archive.err();

    const std::string err = archive.err();
    std::vector<std::string> skipped;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
        if (line.find("skipped a message") != std::string::npos) skipped.push_back(line);
    EXPECT_EQ(skipped.size(), bad.size() + 1) << err;
    EXPECT_THAT(err, HasSubstr("10485760 bytes is over the limit"));
    EXPECT_THAT(err, HasSubstr("version"));
    EXPECT_EQ(summary(err), (std::vector<long>{1, 0, static_cast<long>(bad.size() + 1)}));
    // Nothing but the one good record reached the archive: no other unit, no other file.
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(archiveDir_))
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), archiveDir_));
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{".kvx-archive.lock", "kvx-archive.state",
                                               "north/2417/log_2026_12_8_21.log"}));
    EXPECT_EQ(readFile(copyOf(logs.paths[0])),
              readFile(logs.paths[0]).substr(0, kLogHeaderSize + kLogRecordSize));
}

TEST_F(FleetArchive, OverTlsTheBrokerIsVerified) {
    test::TestPki pki("fleet");
    const auto ca = pki.makeCa("ca", "Fleet Test CA");
    const auto server = pki.makeCert("broker", ca, "localhost", {"DNS:localhost", "IP:127.0.0.1"});
    const auto otherCa = pki.makeCa("other", "Someone Else");
    const LogFiles logs = makeLogs(tmp_.path + "/agent", 120, 30);
    Broker broker(tmp_.path + "/broker", Tls{server.cert, server.key});
    ASSERT_TRUE(broker.start()) << broker.log();
    const std::string url = "mqtts://localhost:" + std::to_string(broker.port());

    // A broker whose certificate the archive's CA did not sign is never trusted.
    Process untrusting;
    untrusting.start(
        {kArchive, "--broker", url, "--dir", tmp_.path + "/other", "--client-id", "other", "--ca",
         otherCa.cert, "--credentials", broker.credentials("kvx-archive")},
        tmp_.path + "/other.err");
    Process archive;
    startArchive(archive, broker, url, {"--ca", ca.cert});
    ASSERT_EQ(publish(broker, logs, {"--ca", ca.cert, "--order", "shuffle:2"}).status, 0);
    EXPECT_EQ(waitThrough(broker, logs.records, {"--ca", ca.cert}), logs.records);
    ASSERT_EQ(archive.stop(), 0) << archive.err();
    expectIdenticalCopies(logs);

    EXPECT_EQ(untrusting.stop(), 0);
    EXPECT_THAT(untrusting.err(), HasSubstr("certificate verify failed"));
    EXPECT_THAT(untrusting.err(), HasSubstr("stopped: 0 records written"));
    EXPECT_FALSE(fs::exists(tmp_.path + "/other/north"));
}

TEST_F(FleetArchive, TheClientDeliversInOrderAcknowledgesAndReportsARefusedLogin) {
    Broker broker(tmp_.path + "/broker");
    ASSERT_TRUE(broker.start()) << broker.log();
    auto options = [&](const std::string& user, const std::string& password) {
        fleet::MqttOptions o;
        o.broker = {"127.0.0.1", broker.port(), false};
        o.clientId = "client-test-" + user;
        o.credentials = fleet::Credentials{user, password};
        return o;
    };
    std::mutex mutex;
    std::vector<std::string> received, subscriptions, refusals;

    fleet::MqttClient viewer(options("kvx-viewer", "pw-kvx-viewer"));
    viewer.onMessage([&](const std::string& topic, std::string_view payload, bool) {
        std::lock_guard lock(mutex);
        received.push_back(topic + " " + std::string(payload));
    });
    viewer.onSubscribed([&](const std::string& filter, bool ok) {
        std::lock_guard lock(mutex);
        subscriptions.push_back(filter + (ok ? " ok" : " refused"));
    });
    viewer.subscribe("kvx/+/+/record", 1);
    ASSERT_EQ(viewer.start(), "");
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return subscriptions.size() == 1;
    }));
    EXPECT_EQ(subscriptions, std::vector<std::string>{"kvx/+/+/record ok"});

    fleet::MqttClient agent(options("north", "pw-north"));
    ASSERT_EQ(agent.start(), "");
    ASSERT_TRUE(eventually([&] { return agent.connected(); }));
    constexpr int kCount = 300;
    std::atomic<int> acknowledged{0};
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(agent.publish("kvx/north/1/record", std::to_string(i), 1, false,
                                [&] { ++acknowledged; }),
                  "");
    }
    EXPECT_TRUE(eventually([&] { return acknowledged == kCount; })) << acknowledged;
    EXPECT_EQ(agent.unacknowledged(), 0u);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return received.size() == kCount;
    }));
    for (int i = 0; i < kCount; ++i)  // in order, each once
        EXPECT_EQ(received[i], "kvx/north/1/record " + std::to_string(i));

    fleet::MqttClient intruder(options("north", "wrong"));
    intruder.onDisconnect([&](const std::string& reason) {
        std::lock_guard lock(mutex);
        refusals.push_back(reason);
    });
    ASSERT_EQ(intruder.start(), "");
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return !refusals.empty();
    }));
    EXPECT_THAT(refusals[0], HasSubstr("not authorised"));
    EXPECT_FALSE(intruder.connected());
    EXPECT_THAT(intruder.publish("kvx/north/1/record", "x", 1, false), HasSubstr("not connected"));
}

TEST_F(FleetArchive, BadOptionsAndAnOpenCredentialsFileAreRefused) {
    Broker broker(tmp_.path + "/broker");
    const std::string open = broker.credentials("kvx-archive");
    ::chmod(open.c_str(), 0644);
    const struct {
        std::vector<std::string> args;
        int status;
        const char* why;
    } cases[] = {
        {{"--dir", "d"}, 2, "--broker is required"},
        {{"--broker", "mqtt://h"}, 2, "--dir is required"},
        {{"--broker", "http://h", "--dir", "d"}, 2, "mqtt://"},
        {{"--broker", "mqtt://h:99999", "--dir", "d"}, 2, "port"},
        {{"--broker", "mqtt://h", "--dir", "d", "--ca", "x"}, 2, "mqtts://"},
        {{"--broker", "mqtt://h", "--dir", "d", "--password", "x"}, 2, "unknown option"},
        {{"--broker", "mqtt://h", "--dir", "d", "--credentials", open}, 1, "group or others"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{kArchive};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = sim::run(args);
        EXPECT_EQ(r.status, c.status) << c.why;
        EXPECT_THAT(r.err, HasSubstr(c.why));
    }
}

}  // namespace
}  // namespace kvx
