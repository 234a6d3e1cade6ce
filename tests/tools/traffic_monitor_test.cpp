// kvx-probe --monitor against dravo-sim with each of its faults, on the pseudo-terminal and as
// a Modbus TCP gateway: the simulator's served log names the fault it put on the reply to
// every request it heard, and the monitor's verdict on that request's reply must agree.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "link/crc16.h"
#include "sim/fault_injector.h"
#include "sim/sim_server.h"
#include "tests/tools/child_process.h"

namespace kvx::sim {
namespace {

namespace fs = std::filesystem;

const std::string kSim = DRAVO_SIM_PATH;
const std::string kProbe = KVX_PROBE_PATH;

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string s;
    for (const std::uint8_t b : bytes) {
        s += kHex[b >> 4];
        s += kHex[b & 0x0F];
    }
    return s;
}

// A request the simulator heard, and the fault it put on the reply.
struct Served {
    std::string fault;
    std::string request;  // the RTU frame in hex, CRC included
};

std::vector<Served> readServed(const std::string& path) {
    // A block-A line carries the values instead of the request, a read of 44 input registers
    // from 1 of slave 1.
    std::vector<std::uint8_t> blockA = {1, 4, 0, 0, 0, 44, 0, 0};
    appendCrc16(blockA.data(), 6);
    std::vector<Served> out;
    for (const std::string& line : lines(path)) {
        const std::vector<std::string> w = words(line);
        if (w.size() == 3 && w[2].rfind("request=", 0) == 0)
            out.push_back({w[1], w[2].substr(8)});
        else if (w.size() == 46)
            out.push_back({w[1], hexOf(blockA)});
        else
            out.push_back({"unreadable line: " + line, ""});
    }
    return out;
}

// A request the monitor showed, and its verdict on what came back (what the master passed
// over aside: late answers to earlier requests, an adapter's echo, noise before a request).
struct Seen {
    std::string request;  // hex, no spaces
    std::string verdict;
};

std::vector<Seen> readMonitor(const std::string& path, int& passedOver) {
    std::vector<Seen> out;
    passedOver = 0;
    for (const std::string& line : lines(path)) {
        const std::vector<std::string> w = words(line);
        if (w.size() < 3) continue;
        if (w[1] == "TX") {
            std::string hex;
            for (std::size_t i = 2; i < w.size() && w[i].size() == 2; ++i)
                hex += w[i];
            out.push_back({hex, "none"});
        } else if (w[1] == "RX" && w.size() >= 5) {
            // "... VERDICT (D.D ms)", or "... exception N (D.D ms)"
            std::string verdict = w[w.size() - 3];
            if (w[w.size() - 4] == "exception") verdict.insert(0, "exception ");
            if (verdict == "passed-over")
                ++passedOver;
            else if (verdict == "echo" || verdict == "noise")
                continue;
            else if (!out.empty() && out.back().verdict == "none")
                out.back().verdict = verdict;
        }
    }
    return out;
}

struct MonitoredRun {
    std::string what;
    std::vector<Served> served;
    std::vector<Seen> seen;
    int passedOver = 0;
    std::string probeOut;
    bool started = false;
};

// One simulator with the fault on the replies to two of the probe's requests (its identity and
// range reads are the first three, each poll three more), and the probe's monitor on it.
FaultKind kindOf(const std::string& name) {
    FaultKind kind = FaultKind::none;
    parseFaultKind(name, kind);
    return kind;
}

MonitoredRun runFault(FaultKind kind, bool mbap) {
    MonitoredRun result;
    result.what = std::string(faultName(kind)) + (mbap ? " (mbap)" : " (rtu)");
    const fs::path dir =
        fs::temp_directory_path() / ("kvx-monitor-" + std::to_string(::getpid()) + "-" +
                                     std::string(faultName(kind)) + (mbap ? "-mbap" : "-rtu"));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string served = (dir / "served.txt").string();
    const std::string monitor = (dir / "monitor.txt").string();
    const std::string name(faultName(kind));
    std::vector<std::string> args = {
        kSim,           "--served", served,          "--seconds", "120", "--fault",
        name + ":at=5", "--fault",  name + ":at=10", "--pull-ms", "1000"};
    if (mbap) args.insert(args.end(), {"--listen", "0", "--framing", "mbap"});
    Child sim = spawn(args);
    const std::string port = readLine(sim.out, 5000);
    result.started = !port.empty();
    if (result.started) {
        const Result probe =
            run({kProbe, "--port", port, "--polls", "3", "--monitor-file", monitor});
        result.probeOut = probe.out + probe.err;
    }
    ::kill(sim.pid, SIGTERM);
    finish(sim);
    result.served = readServed(served);
    result.seen = readMonitor(monitor, result.passedOver);
    fs::remove_all(dir);
    return result;
}

TEST(TrafficMonitor, VerdictOfEveryRequestAgreesWithTheFaultTheSimulatorPutOnItsReply) {
    // What the master must make of a reply with each fault. Noise before a reply shifts it:
    // the bytes the master takes for its header are garbage, so its CRC fails, its address or
    // function is another, or the length it announces never all comes. A late reply comes
    // after the master has given up; bytes after a reply are left unread (the next request's
    // purge drops them, or its wait for quiet shows them as noise). Truncated on a stream: the
    // gateway closes the connection mid-frame, a reply cut short all the same.
    std::string exception = "exception ";
    exception += std::to_string(FaultSettings{}.exceptionCode);
    struct Expected {
        std::set<std::string> rtu, mbap;
    };
    const std::map<FaultKind, Expected> expected = {
        {FaultKind::none, {{"good"}, {"good"}}},
        {FaultKind::noReply, {{"timeout"}, {"timeout"}}},
        {FaultKind::badCrc, {{"bad-crc"}, {}}},
        {FaultKind::wrongAddress, {{"wrong-slave"}, {"wrong-slave"}}},
        {FaultKind::wrongFunction, {{"wrong-function"}, {"wrong-function"}}},
        {FaultKind::exception, {{exception}, {exception}}},
        {FaultKind::truncated, {{"truncated"}, {"truncated"}}},
        {FaultKind::trailing, {{"good"}, {}}},
        {FaultKind::noise, {{"bad-crc", "wrong-slave", "wrong-function", "truncated"}, {}}},
        {FaultKind::late, {{"timeout"}, {"timeout"}}},
        {FaultKind::cablePulled, {{"timeout"}, {"timeout"}}},
    };
    // Every kind the simulator knows, each on its own simulator, all at once (most of the time
    // is spent waiting for replies that never come).
    std::vector<std::future<MonitoredRun>> runs;
    for (const FaultName& f : faultNames()) {
        ASSERT_TRUE(expected.count(f.kind)) << "no expected verdict for " << f.name;
        runs.push_back(std::async(std::launch::async, runFault, f.kind, false));
        if (faultFitsFraming(f.kind, Framing::mbap))
            runs.push_back(std::async(std::launch::async, runFault, f.kind, true));
    }
    for (auto& future : runs) {
        const MonitoredRun run = future.get();
        SCOPED_TRACE(run.what);
        ASSERT_TRUE(run.started);
        const bool mbap = run.what.find("mbap") != std::string::npos;
        // Every request the simulator heard, in order, was one the monitor showed.
        ASSERT_EQ(run.served.size(), run.seen.size()) << run.probeOut;
        std::map<std::string, int> faults;
        for (std::size_t i = 0; i < run.served.size(); ++i) {
            SCOPED_TRACE("request " + std::to_string(i + 1));
            const Served& s = run.served[i];
            const Seen& seen = run.seen[i];
            FaultKind kind = FaultKind::none;
            ASSERT_TRUE(s.fault == "none" || parseFaultKind(s.fault, kind)) << s.fault;
            ++faults[s.fault];
            // An MBAP request is its RTU frame without the CRC behind a 6-byte header.
            const std::string request =
                mbap ? s.request.substr(0, s.request.size() - 4) : s.request;
            EXPECT_EQ(mbap ? seen.request.substr(12) : seen.request, request);
            const Expected& e = expected.at(kind);
            EXPECT_TRUE((mbap ? e.mbap : e.rtu).count(seen.verdict))
                << "fault " << s.fault << ", verdict " << seen.verdict;
        }
        const std::string fault = run.what.substr(0, run.what.find(' '));
        // Both faults were put on (a cable pulled by the first hears the second request
        // meanwhile as pulled too; a stream closed by the first hears no second).
        EXPECT_GE(faults[fault], 1) << run.probeOut;
        // The late answer to a request over a stream is shown, passed over.
        if (fault == "late" && mbap) {
            EXPECT_GE(run.passedOver, 1);
        }
        EXPECT_NE(run.probeOut.find("monitor: frames="), std::string::npos) << run.probeOut;
        // The summary counts the verdict the fault gives ("exception=" for every code).
        const std::set<std::string>& given =
            mbap ? expected.at(kindOf(fault)).mbap : expected.at(kindOf(fault)).rtu;
        if (given.size() == 1) {
            const std::string verdict = *given.begin();
            std::string key = " ";
            key += verdict.substr(0, verdict.find(' '));
            key += '=';
            const std::size_t at = run.probeOut.find(key);
            ASSERT_NE(at, std::string::npos) << key << run.probeOut;
            EXPECT_GE(std::atoi(run.probeOut.c_str() + at + key.size()), 1) << key;
        }
    }
}

}  // namespace
}  // namespace kvx::sim
