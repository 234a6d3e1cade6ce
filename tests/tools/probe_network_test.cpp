// kvx-probe over each network transport against pymodbus, an implementation written elsewhere,
// run as a server on loopback: RTU frames over TCP, Modbus TCP, and Modbus TCP over mutual TLS.
// A TLS server the probe must not trust is refused with the reason, and nothing is read.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/link/test_pki.h"

extern char** environ;

namespace kvx {
namespace {

using testing::HasSubstr;

const std::string kProbe = KVX_PROBE_PATH;
const std::string kPython = "/usr/bin/python3";
const std::string kServerScript = PYMODBUS_SERVER_SCRIPT;

struct Result {
    int status = -1;
    std::string out, err;
};

std::string readAll(int fd) {
    std::string s;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        s.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return s;
}

pid_t spawn(const std::vector<std::string>& args, int out, int err) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out, 1);
    posix_spawn_file_actions_adddup2(&fa, err, 2);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

Result run(const std::vector<std::string>& args) {
    int out[2], err[2];
    Result r;
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return r;
    const pid_t pid = spawn(args, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    r.out = readAll(out[0]);
    r.err = readAll(err[0]);
    int st = 0;
    if (pid > 0) ::waitpid(pid, &st, 0);
    r.status = pid > 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool accepting(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// The pymodbus server for one case, stopped when it goes out of scope.
class PymodbusServer {
  public:
    explicit PymodbusServer(std::vector<std::string> args) {
        args.insert(args.begin(), {kPython, kServerScript});
        log_ = std::filesystem::temp_directory_path() /
               ("kvx-pymodbus-" + std::to_string(::getpid()) + ".log");
        const int logFd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = spawn(args, logFd, logFd);
        ::close(logFd);
        port_ = std::stoi(args[3]);
        for (int i = 0; i < 200 && !accepting(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~PymodbusServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove(log_);
    }
    bool ready() const { return pid_ > 0 && accepting(port_); }
    std::string log() const {
        std::ifstream in(log_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::filesystem::path log_;
};

TEST(ProbeAgainstPymodbus, ReadsOverEachTransportAndRefusesAnUntrustedTlsServer) {
    ASSERT_EQ(run({kPython, "-c", "import pymodbus"}).status, 0)
        << "python3-pymodbus is not installed (scripts/deps installs it)";
    test::TestPki pki("probe");
    const test::CertFiles ca = pki.makeCa("ca", "Plant CA");
    const test::CertFiles otherCa = pki.makeCa("other-ca", "Someone Else's CA");
    const std::vector<std::string> local = {"DNS:localhost", "IP:127.0.0.1"};
    const test::CertFiles server = pki.makeCert("server", ca, "gateway", local);
    const test::CertFiles expired = pki.makeCert("expired", ca, "gateway", local, -7200, -3600);
    const test::CertFiles otherHost = pki.makeCert("other", ca, "gateway", {"DNS:plant.example"});
    const test::CertFiles client = pki.makeCert("client", ca, "viewer", {});

    struct Case {
        const char* what;
        std::string framing;
        std::string scheme;
        test::CertFiles serverFiles;
        std::string trustedCa;
        std::string failure;  // empty: the probe reads the controller
    };
    const Case cases[] = {
        {"RTU over TCP", "rtu", "tcp://127.0.0.1", {}, "", ""},
        {"Modbus TCP", "socket", "modbus-tcp://127.0.0.1", {}, "", ""},
        {"Modbus TCP over mutual TLS", "tls", "modbus-tls://localhost", server, ca.cert, ""},
        {"expired server certificate", "tls", "modbus-tls://localhost", expired, ca.cert,
         "certificate verify failed: certificate has expired"},
        {"server certificate for another host", "tls", "modbus-tls://localhost", otherHost, ca.cert,
         "certificate verify failed: the certificate is not for localhost"},
        {"server certificate from an untrusted CA", "tls", "modbus-tls://localhost", server,
         // OpenSSL's reason depends on whether the server sends its CA along.
         otherCa.cert, "TLS: certificate verify failed: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int port = freeLoopbackPort();
        std::vector<std::string> args = {c.framing, std::to_string(port)};
        if (c.framing == "tls") {
            args.insert(args.end(), {c.serverFiles.cert, c.serverFiles.key, ca.cert});
        }
        PymodbusServer peer(args);
        ASSERT_TRUE(peer.ready()) << peer.log();

        // The probe's data directory holds the settings file naming the TLS files.
        const std::string dataDir = pki.dir() + "/data-" + c.framing + std::to_string(port);
        std::filesystem::create_directories(dataDir);
        std::ofstream(dataDir + "/kvx_settings.conf")
            << "tls_ca_file = " << c.trustedCa << "\ntls_cert_file = " << client.cert
            << "\ntls_key_file = " << client.key << "\n";

        const Result r = run({kProbe, "--port", c.scheme + ":" + std::to_string(port), "--data-dir",
                              dataDir, "--polls", "3"});
        if (c.failure.empty()) {
            EXPECT_EQ(r.status, 0) << r.err << peer.log();
            EXPECT_THAT(r.out, HasSubstr("version=117\nserial_number=4242\n"));
            EXPECT_THAT(r.out, HasSubstr("summary: polls=3 good=3"));
        } else {
            EXPECT_NE(r.status, 0);
            EXPECT_THAT(r.err, HasSubstr(c.failure));
            EXPECT_EQ(r.out, "");  // nothing read
        }
    }
}

TEST(ProbeAgainstPymodbus, ANetworkNameThatDoesNotParseIsAPortFailure) {
    for (const char* name : {"tcp://", "tcp://gw:99999", "modbus-tcp://::1"}) {
        SCOPED_TRACE(name);
        const Result r = run({kProbe, "--port", name});
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("kvx-probe: "));
        EXPECT_THAT(r.err, HasSubstr("result 66"));
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
}  // namespace kvx
