// One poll tick of the monitoring window against the simulated controller with 9600-baud wire
// timing: its duration beside the time its three transactions need on the line.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/core/monitor_controller.h"
#include "app/core/monitor_host.h"
#include "app/core/panel_feed.h"
#include "link/rtu_device_link.h"
#include "sim/sim_server.h"

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

void BM_PollTickFirmware117(benchmark::State& state) {
    kvx::sim::SimServer sim;
    sim.setWireTiming(true);
    if (sim.start() != 0) {
        state.SkipWithError("simulator did not start");
        return;
    }
    const std::string dir = std::filesystem::temp_directory_path().string() + "/kvx_bench_" +
                            std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    kvx::RtuDeviceLink link(dir, sim.devicePath());
    link.setReplyTimeout(3000);
    if (link.openConnection("COM5") != 0) {
        state.SkipWithError("cannot open the simulator's line");
        return;
    }
    kvx::NullMonitorHost host;
    QuietPrompts prompts;
    kvx::ProgramSettings settings;
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
    state.counters["wire_ms"] = bytes * 10.0 * 1000.0 / 9600.0 + 3 * 5.0;
    state.counters["good_ticks"] = static_cast<double>(mc.state().goodTicks);
    log.closeLogFile();
    link.closeConnection();
    sim.stop();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PollTickFirmware117)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace
