// One poll tick of the monitoring window against the simulated controller with 9600-baud wire
// timing: its duration beside the time its three transactions need on the line, over the
// pseudo-terminal and over the network.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/core/monitor_controller.h"
#include "app/core/monitor_host.h"
#include "app/core/panel_feed.h"
#include "link/rtu_device_link.h"
#include "link/tls_context.h"
#include "sim/sim_server.h"
#include "tests/link/test_pki.h"

namespace {

class QuietPrompts : public kvx::Prompts {
  public:
    int messageBox(const std::string&, const std::string&, kvx::BoxIcon, kvx::BoxButtons,
                   bool) override {
        return kvx::kAnswerOk;
    }
    std::string openFileName(const kvx::FileDialogRequest&) override { return {}; }
    std::string saveFileName(const kvx::FileDialogRequest&) override { return {}; }
};

// Bytes on the line of one transaction reading count registers: 8 request bytes, then
// address, function, byte count, the data and the CRC.
constexpr int transactionBytes(int count) {
    return 8 + 5 + 2 * count;
}

// The transports a tick can go over: the simulator's pseudo-terminal at its default 3.5-character
// turnaround (as before) and with none, RTU frames over TCP to the simulator as a paced device
// server with none, and Modbus/TCP Security to it as a paced gateway (mutual TLS, certificates
// made for the run): the last shows what TLS costs the viewer's CPU beside the line.
enum Transport { kPty, kPtyNoTurnaround, kTcpRtu, kTls };

void BM_PollTickFirmware117(benchmark::State& state) {
    const auto transport = static_cast<Transport>(state.range(0));
    const std::string dir = std::filesystem::temp_directory_path().string() + "/kvx_bench_" +
                            std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    kvx::test::TestPki pki("bench-poll-tick");
    const kvx::test::CertFiles ca = pki.makeCa("ca", "Plant CA");
    const kvx::test::CertFiles cert = pki.makeCert("server", ca, "gateway", {"IP:127.0.0.1"});
    const kvx::test::CertFiles client = pki.makeCert("client", ca, "viewer", {});

    kvx::sim::SimServer sim;
    sim.setWireTiming(true);
    if (transport != kPty) sim.setTurnaroundMs(0);
    std::string port = "COM5", why;
    if (transport == kPty || transport == kPtyNoTurnaround) {
        if (sim.start() != 0) why = "simulator did not start";
    } else {
        kvx::sim::ListenConfig config;
        config.framing = transport == kTcpRtu ? kvx::sim::Framing::rtu : kvx::sim::Framing::mbap;
        if (transport == kTls)
            config.tls = kvx::TlsContext::server(cert.cert, cert.key, ca.cert, why);
        if (transport == kTcpRtu || config.tls) sim.listen(config, why);
        port = (transport == kTcpRtu ? "tcp://" : "modbus-tls://") + sim.listenAddress();
    }
    if (!sim.running()) {
        state.SkipWithError(why.c_str());
        return;
    }
    const bool pty = transport == kPty || transport == kPtyNoTurnaround;
    kvx::RtuDeviceLink link(dir, pty ? sim.devicePath() : std::string());
    link.setTlsFiles(kvx::TlsFiles{ca.cert, client.cert, client.key});
    link.setReplyTimeout(3000);
    if (link.openConnection(port) != 0) {
        state.SkipWithError(("cannot open the simulator: " + link.lastOpenError()).c_str());
        return;
    }
    kvx::NullMonitorHost host;
    QuietPrompts prompts;
    kvx::ProgramSettings settings;
    settings.portName = port;  // Connect reopens the link by it
    kvx::LogWriter log(dir);
    kvx::PanelFeed feed;
    kvx::MonitorController mc(link, log, prompts, host, settings, feed, kvx::systemMonitorClock());
    // Connected as Connect leaves it: the simulator's identity (firmware 1.17) read.
    mc.connect();
    if (!mc.state().connected || mc.state().identity.version != 117) {
        state.SkipWithError("the simulator did not answer Connect as firmware 1.17");
        return;
    }
    log.openLogFile(kvx::LogWriter::kRequestConnect, 117);

    for (auto _ : state)
        mc.pollTick();

    const int bytes = transactionBytes(kvx::kBlockA.count) +
                      transactionBytes(kvx::kBlockB106.count) +
                      transactionBytes(kvx::kBlockB113.count);
    // 10 bits a character at 9600 baud, plus the 5 ms silence before each of the three.
    const double wireMs = bytes * 10.0 * 1000.0 / 9600.0 + 3 * 5.0;
    state.counters["wire_ms"] = wireMs;
    // The tick's real time as a share of the wire limit (1.0 = the line's own pace).
    state.counters["of_wire"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * wireMs / 1000.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["good_ticks"] = static_cast<double>(mc.state().goodTicks);
    log.closeLogFile();
    link.closeConnection();
    sim.stop();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PollTickFirmware117)
    ->ArgName("transport")
    ->DenseRange(kPty, kTls)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

}  // namespace
