#pragma once
// A real Mosquitto for a test: a generated configuration on a free loopback port, a password
// file (hashed by mosquitto_passwd -U, so no password is on a command line), the test's ACL,
// TLS when asked, and persistence when asked (the broker then keeps sessions, queues and
// retained messages across a stop and a start, as the fleet's brokers must). Stopped when it
// goes. The test defines KVX_MOSQUITTO_PATH and KVX_MOSQUITTO_PASSWD_PATH.
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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kvx::test {

class TestBroker {
  public:
    struct User {
        std::string name, password;
    };
    struct Options {
        std::vector<User> users;
        std::string acl;  // the ACL file's text
        bool persistence = false;
        // A TLS listener with this certificate and key when set.
        std::string certFile, keyFile;
    };

    // Makes dir and a credentials file for each user in it (credentialsFile).
    TestBroker(std::filesystem::path dir, Options options)
        : dir_(std::move(dir)), options_(std::move(options)) {
        std::error_code ignored;
        std::filesystem::create_directories(dir_ / "data", ignored);
        for (const User& u : options_.users) {
            const std::filesystem::path path = dir_ / ("cred-" + u.name);
            std::ofstream(path) << u.name << '\n' << u.password << '\n';
            ::chmod(path.c_str(), 0600);
        }
    }
    ~TestBroker() { stop(); }
    TestBroker(const TestBroker&) = delete;
    TestBroker& operator=(const TestBroker&) = delete;

    // Before the first start(): the listener speaks TLS with this certificate and key.
    void useTls(std::string certFile, std::string keyFile) {
        options_.certFile = std::move(certFile);
        options_.keyFile = std::move(keyFile);
    }

    // Chooses the port and writes the broker's files, once: for a test whose clients must know
    // the port before the broker is up. start() does it when it has not been done.
    bool configure(std::string& why) { return port_ > 0 || writeFiles(why); }

    // False with the reason when the broker did not come up. The port is kept across a stop
    // and a start, so that clients find the broker again.
    bool start(std::string& why) {
        if (pid_ > 0) return true;
        if (!configure(why)) return false;
        pid_ = spawn({KVX_MOSQUITTO_PATH, "-c", (dir_ / "mosquitto.conf").string()});
        if (pid_ <= 0) {
            why = "mosquitto did not start";
            return false;
        }
        for (int i = 0; i < 400; ++i) {
            if (accepts(port_)) return true;
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                why = "mosquitto ended at start-up: " + log();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        why = "mosquitto does not accept connections: " + log();
        return false;
    }
    // TERM: a broker with persistence saves what it keeps on the way out.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    int port() const { return port_; }
    std::string url() const {
        return (options_.certFile.empty() ? "mqtt://127.0.0.1:" : "mqtts://127.0.0.1:") +
               std::to_string(port_);
    }
    // The credentials file of user ("name\npassword\n", made private) as the programs read it.
    std::string credentialsFile(const std::string& user) const {
        return (dir_ / ("cred-" + user)).string();
    }
    // What the broker has logged.
    std::string log() const {
        std::ifstream in(dir_ / "broker.log");
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    bool writeFiles(std::string& why) {
        namespace fs = std::filesystem;
        port_ = freeLoopbackPort();
        if (port_ <= 0) {
            why = "no free loopback port";
            return false;
        }
        const fs::path passwordFile = dir_ / "passwd", acl = dir_ / "acl";
        {
            std::ofstream out(passwordFile);
            for (const User& u : options_.users)
                out << u.name << ':' << u.password << '\n';
        }
        ::chmod(passwordFile.c_str(), 0600);
        if (run({KVX_MOSQUITTO_PASSWD_PATH, "-U", passwordFile.string()}) != 0) {
            why = "mosquitto_passwd -U failed";
            return false;
        }
        std::ofstream(acl) << options_.acl;
        ::chmod(acl.c_str(), 0600);
        const passwd* me = ::getpwuid(::geteuid());
        std::ofstream conf(dir_ / "mosquitto.conf");
        conf << "listener " << port_ << " 127.0.0.1\n";
        if (!options_.certFile.empty())
            conf << "certfile " << options_.certFile << "\nkeyfile " << options_.keyFile << '\n';
        conf << "allow_anonymous false\n"
             << "password_file " << passwordFile.string() << '\n'
             << "acl_file " << acl.string() << '\n';
        if (options_.persistence) {
            // What the fleet's brokers need (docs/mqtt.md): a queue for a long absence, saved
            // once a minute and at a stop.
            conf << "persistence true\npersistence_location " << (dir_ / "data").string()
                 << "/\nautosave_interval 60\nmax_queued_messages 1000000\n"
                 << "max_inflight_messages 100\n";
        } else {
            conf << "persistence false\n";
        }
        // Started as root it would switch to the mosquitto user, who cannot read the files of
        // the test's directory.
        conf << "user " << (me ? me->pw_name : "mosquitto") << '\n'
             << "log_dest file " << (dir_ / "broker.log").string() << '\n';
        return static_cast<bool>(conf.flush());
    }
    static int freeLoopbackPort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
    Options options_;
    int port_ = -1;
    pid_t pid_ = -1;
};

}  // namespace kvx::test
