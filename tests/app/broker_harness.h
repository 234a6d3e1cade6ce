#pragma once
// A real Mosquitto for a test: a generated configuration on a free loopback port, a password
// file (hashed by mosquitto_passwd -U, so no password is on a command line) and an ACL that
// lets the agent publish under kvx/ and the viewer only read. Stopped when it goes.
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kvx::test {

class TestBroker {
  public:
    static constexpr const char* kAgentUser = "agent";
    static constexpr const char* kAgentPassword = "agent-secret";
    static constexpr const char* kViewerUser = "viewer";
    static constexpr const char* kViewerPassword = "viewer-secret";

    explicit TestBroker(std::filesystem::path dir) : dir_(std::move(dir)) {}
    // Before start(): the listener speaks TLS with this certificate and key.
    void useTls(std::string certFile, std::string keyFile) {
        certFile_ = std::move(certFile);
        keyFile_ = std::move(keyFile);
    }
    ~TestBroker() { stop(); }

    // False with the reason when the broker did not come up.
    bool start(std::string& why) {
        namespace fs = std::filesystem;
        port_ = freeLoopbackPort();
        if (port_ <= 0) {
            why = "no free loopback port";
            return false;
        }
        const fs::path passwordFile = dir_ / "passwd", acl = dir_ / "acl",
                       conf = dir_ / "broker.conf";
        std::ofstream(passwordFile) << kAgentUser << ':' << kAgentPassword << '\n'
                                    << kViewerUser << ':' << kViewerPassword << '\n';
        ::chmod(passwordFile.c_str(), 0600);
        if (run({KVX_MOSQUITTO_PASSWD_PATH, "-U", passwordFile.string()}) != 0) {
            why = "mosquitto_passwd -U failed";
            return false;
        }
        std::ofstream(acl) << "user " << kAgentUser << "\ntopic readwrite kvx/#\n"
                           << "user " << kViewerUser << "\ntopic read kvx/#\n";
        ::chmod(acl.c_str(), 0600);
        const passwd* me = ::getpwuid(::geteuid());
        std::ofstream(conf) << "listener " << port_ << " 127.0.0.1\n"
                            << (certFile_.empty()
                                    ? std::string()
                                    : "certfile " + certFile_ + "\nkeyfile " + keyFile_ + '\n')
                            << "allow_anonymous false\n"
                            << "password_file " << passwordFile.string() << '\n'
                            << "acl_file " << acl.string() << '\n'
                            << "persistence false\n"
                            // Started as root it would switch to the mosquitto user, who
                            // cannot read the files of the test's directory.
                            << "user " << (me ? me->pw_name : "mosquitto") << '\n'
                            << "log_dest file " << (dir_ / "broker.log").string() << '\n';
        pid_ = spawn({KVX_MOSQUITTO_PATH, "-c", conf.string()});
        if (pid_ <= 0) {
            why = "mosquitto did not start";
            return false;
        }
        for (int i = 0; i < 200; ++i) {
            if (accepts(port_)) return true;
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                why = "mosquitto ended at start-up (see " + (dir_ / "broker.log").string() + ")";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        why = "mosquitto does not accept connections";
        return false;
    }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    int port() const { return port_; }
    std::string url() const {
        return (certFile_.empty() ? "mqtt://127.0.0.1:" : "mqtts://127.0.0.1:") +
               std::to_string(port_);
    }

  private:
    static int freeLoopbackPort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) return -1;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        int port = -1;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        ::close(fd);
        return port;
    }
    static bool accepts(int port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) return false;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }
    static pid_t spawn(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
        return pid;
    }
    static int run(const std::vector<std::string>& args) {
        const pid_t pid = spawn(args);
        if (pid <= 0) return -1;
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::filesystem::path dir_;
    std::string certFile_, keyFile_;
    int port_ = -1;
    pid_t pid_ = -1;
};

}  // namespace kvx::test
