// dravo-sim --listen as a program, against pymodbus as an independent client in each framing,
// TLS with certificates the test makes with the openssl command.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/child_process.h"

namespace kvx::sim {
namespace {

namespace fs = std::filesystem;

const std::string kSim = DRAVO_SIM_PATH;
const std::string kPython = PYTHON3_PATH;
const std::string kClient = PYMODBUS_CLIENT_PATH;
const std::string kOpenssl = OPENSSL_PATH;
const std::string kProbe = KVX_PROBE_PATH;

struct TempDir {
    fs::path path;
    explicit TempDir(const std::string& name)
        : path(fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::map<std::string, std::string> keyValues(const std::string& out) {
    std::map<std::string, std::string> m;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (const auto eq = line.find('='); eq != std::string::npos)
            m[line.substr(0, eq)] = line.substr(eq + 1);
    return m;
}

// A running dravo-sim --listen: its port name (the first line it prints) and port.
struct ListeningSim {
    Child child;
    std::string portName;
    int port = -1;

    explicit ListeningSim(std::vector<std::string> options) {
        options.insert(options.begin(), {kSim, "--listen", "0", "--seconds", "120"});
        child = spawn(options);
        portName = readLine(child.out, 5000);
        const auto colon = portName.rfind(':');
        if (colon != std::string::npos) port = std::atoi(portName.c_str() + colon + 1);
    }
    // Stops it and returns what it printed.
    Result stop() {
        ::kill(child.pid, SIGTERM);
        return finish(child);
    }
};

Result pymodbus(int port, const std::string& framing, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {kPython,     kClient, "--port", std::to_string(port),
                                     "--framing", framing};
    args.insert(args.end(), more.begin(), more.end());
    return run(args);
}

TEST(DravoSimListen, PymodbusReadsAndWritesInEachPlainFraming) {
    struct Case {
        const char* framing;
        const char* scheme;
    };
    for (const Case& c : {Case{"rtu", "tcp://"}, Case{"mbap", "modbus-tcp://"}}) {
        SCOPED_TRACE(c.framing);
        TempDir dir(std::string("dravo-listen-") + c.framing);
        const std::string served = dir.file("served.txt");
        ListeningSim sim({"--framing", c.framing, "--served", served});
        ASSERT_EQ(sim.portName, c.scheme + std::string("127.0.0.1:") + std::to_string(sim.port));
        const Result r = pymodbus(sim.port, c.framing, {"--value", "4321"});
        EXPECT_EQ(r.status, 0) << r.err;
        auto v = keyValues(r.out);
        EXPECT_EQ(v["firmware"], "117");
        EXPECT_EQ(v["block_a"], "44");
        EXPECT_EQ(v["read_back"], "4321");
        // A gateway's answer for a unit nobody is at; the device server's line stays silent.
        EXPECT_EQ(v["unit2"], std::string(c.framing) == "mbap" ? "11" : "");
        const Result end = sim.stop();
        EXPECT_NE(end.out.find("dravo-sim: 4 requests served, 0 faults injected, 0 saves; 1 "
                               "clients served, 0 refused, 0 dropped"),
                  std::string::npos)
            << end.out;
        EXPECT_NE(end.err.find("connected"), std::string::npos) << end.err;
        // The served log holds every request, as over the pseudo-terminal: the block-A reply
        // with its values, the three others by their bytes.
        const std::string log = slurp(served);
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;
        std::size_t byBytes = 0;
        for (std::size_t at = 0; (at = log.find(" none request=", at)) != std::string::npos; ++at)
            ++byBytes;
        EXPECT_EQ(byBytes, 3u) << log;
    }
}

// Keys and certificates made with the openssl command: a CA the clients trust, another CA
// nobody trusts, and server and client certificates signed by either.
struct Pki {
    TempDir dir{"dravo-pki"};

    Pki() {
        ca("ca");
        ca("other-ca");
        cert("server", "ca", "DNS:localhost,IP:127.0.0.1", "2");
        cert("client", "ca", "DNS:kvx-client", "2");
        cert("stranger", "other-ca", "DNS:localhost,IP:127.0.0.1", "2");
        cert("expired", "ca", "DNS:localhost,IP:127.0.0.1", "-1");
        cert("elsewhere", "ca", "DNS:elsewhere.example", "2");
        cert("stranger-client", "other-ca", "DNS:kvx-client", "2");
    }
    std::string pem(const std::string& name) const { return dir.file(name + ".pem"); }
    std::string key(const std::string& name) const { return dir.file(name + ".key"); }

    void openssl(std::vector<std::string> args) {
        args.insert(args.begin(), kOpenssl);
        const Result r = run(args);
        ASSERT_EQ(r.status, 0) << args[1] << ": " << r.err;
    }
    void ca(const std::string& name) {
        openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                 "-nodes", "-keyout", key(name), "-out", pem(name), "-days", "2", "-subj",
                 "/CN=" + name});
    }
    // days "-1" ends the certificate's validity before it starts: expired.
    void cert(const std::string& name, const std::string& signer, const std::string& altNames,
              const std::string& days) {
        const std::string csr = dir.file(name + ".csr"), ext = dir.file(name + ".ext");
        openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-keyout", key(name), "-out", csr, "-subj", "/CN=" + name});
        std::ofstream(ext) << "subjectAltName=" << altNames << "\nbasicConstraints=CA:FALSE\n";
        openssl({"x509", "-req", "-in", csr, "-CA", pem(signer), "-CAkey", key(signer),
                 "-CAcreateserial", "-out", pem(name), "-days", days, "-extfile", ext});
        ::chmod(key(name).c_str(), 0600);
    }
};

// Modbus/TCP Security with pymodbus's asynchronous TLS client (MBAP framing, a context that
// verifies the server): a good pair talks; a server the client cannot trust, or a client the
// server cannot, is refused before a byte of Modbus, and the controller sees nothing.
TEST(DravoSimListen, TlsServesAVerifiedClientAndRefusesEveryOtherBeforeAnyModbus) {
    Pki pki;
    struct Case {
        const char* what;
        std::string serverCert;
        std::string clientCert;  // empty: none presented
        bool served;
    };
    const Case cases[] = {
        {"both verified", "server", "client", true},
        {"server from a CA the client does not trust", "stranger", "client", false},
        {"server certificate expired", "expired", "client", false},
        {"server certificate for another host", "elsewhere", "client", false},
        {"no client certificate", "server", "", false},
        {"client certificate from another CA", "server", "stranger-client", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir("dravo-tls");
        const std::string served = dir.file("served.txt");
        ListeningSim sim({"--tls", pki.pem(c.serverCert), pki.key(c.serverCert), "--client-ca",
                          pki.pem("ca"), "--served", served});
        ASSERT_EQ(sim.portName.rfind("modbus-tls://127.0.0.1:", 0), 0u) << sim.portName;
        std::vector<std::string> more = {"--ca", pki.pem("ca"), "--value", "777"};
        if (!c.clientCert.empty())
            more.insert(more.end(),
                        {"--cert", pki.pem(c.clientCert), "--key", pki.key(c.clientCert)});
        const Result r = pymodbus(sim.port, "tls", more);
        const Result end = sim.stop();
        if (c.served) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(keyValues(r.out)["read_back"], "777");
            EXPECT_NE(end.out.find("dravo-sim: 5 requests served"), std::string::npos);
        } else {
            EXPECT_EQ(r.status, 3) << r.out << r.err;
            EXPECT_NE(end.out.find("dravo-sim: 0 requests served"), std::string::npos) << end.out;
            EXPECT_NE(end.err.find("dropped: TLS"), std::string::npos) << end.err;
            EXPECT_TRUE(slurp(served).empty());
        }
    }
}

// Our own master (kvx-probe) on the port name the simulator prints, over each transport, with
// a fault put on the reply to its first poll's first read, as over the pseudo-terminal.
TEST(DravoSimListen, KvxProbePollsItOverEachTransportWithItsFaults) {
    Pki pki;
    const std::string dataDir = pki.dir.file("data");
    fs::create_directories(dataDir);
    std::ofstream(dataDir + "/kvx_settings.conf")
        << "tls_ca_file = " << pki.pem("ca") << "\ntls_cert_file = " << pki.pem("client")
        << "\ntls_key_file = " << pki.key("client") << "\n";
    const std::vector<std::vector<std::string>> transports = {
        {"--framing", "rtu"},
        {"--framing", "mbap"},
        {"--tls", pki.pem("server"), pki.key("server"), "--client-ca", pki.pem("ca")},
    };
    for (std::vector<std::string> options : transports) {
        SCOPED_TRACE(options[1]);
        // The identity and two range reads come first, then the polls' reads.
        options.insert(options.end(), {"--fault", "wrong-function:at=4"});
        ListeningSim sim(options);
        const Result probe =
            run({kProbe, "--port", sim.portName, "--data-dir", dataDir, "--polls", "3"});
        EXPECT_EQ(probe.status, 1) << probe.err;
        EXPECT_NE(probe.out.find("version=117\n"), std::string::npos) << probe.out;
        EXPECT_NE(probe.out.find("summary: polls=3 good=2 fail_130=1 "), std::string::npos)
            << probe.out;
        const Result end = sim.stop();
        EXPECT_NE(end.out.find(" 1 faults injected"), std::string::npos) << end.out;
    }
}

TEST(DravoSimListen, RefusesOptionsThatDoNotFitTogether) {
    Pki pki;
    const std::string cert = pki.pem("server"), key = pki.key("server");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    ::chmod(pki.key("client").c_str(), 0644);
    const std::vector<Case> cases = {
        {{"--listen", "0", "--framing", "mbap", "--fault", "bad-crc"},
         2,
         "--fault bad-crc means nothing in mbap framing"},
        {{"--listen", "0", "--framing", "mbap", "--fault", "noise:0.1"},
         2,
         "--fault noise means nothing in mbap"},
        {{"--listen", "0", "--framing", "mbap", "--fault", "trailing:at=3"},
         2,
         "--fault trailing means nothing in mbap"},
        {{"--listen", "0", "--tls", cert, key, "--fault", "bad-crc"},
         2,
         "--fault bad-crc means nothing in mbap"},
        {{"--framing", "mbap"}, 2, "--framing needs --listen"},
        {{"--tls", cert, key}, 2, "--tls needs --listen"},
        {{"--listen", "0", "--framing", "rtu", "--tls", cert, key},
         2,
         "--tls carries mbap framing only"},
        {{"--listen", "0", "--client-ca", cert}, 2, "--client-ca needs --tls"},
        {{"--listen", "0", "--tls", cert}, 2, "--tls takes two files"},
        {{"--listen", "0", "--link", "/tmp/x"}, 2, "--link"},
        {{"--listen", "70000"}, 2, "0..65535"},
        {{"--listen", "0", "--framing", "ascii"}, 2, "rtu or mbap"},
        {{"--listen", "0", "--tls", pki.pem("client"), pki.key("client")}, 1, pki.key("client")},
        {{"--listen", "0", "--tls", cert, pki.dir.file("missing.key")}, 1, "missing.key"},
        {{"--listen", "192.0.2.1:0"}, 1, "cannot listen on 192.0.2.1:0"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {kSim, "--seconds", "5"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args.back());
        const Result r = run(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

TEST(DravoSimListen, HelpTellsTheNetworkRules) {
    const Result help = run({kSim, "--help"});
    for (const char* text :
         {"--listen [HOST:]PORT", "--framing rtu|mbap", "--tls CERT KEY", "--client-ca CA",
          "127.0.0.1", "One client at a time", "no authentication"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
}

}  // namespace
}  // namespace kvx::sim
