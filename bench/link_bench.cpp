// Device-link overhead: whole transactions over a pseudo-terminal against a peer that answers at
// once (no wire time), and the CRC and frame helpers on their own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include "link/crc16.h"
#include "link/mbus_rtu_master_protocol.h"
#include "link/result_codes.h"
#include "link/rtu_frame.h"

namespace kvx {
namespace {

constexpr int kCount = 10;  // registers per read

// Answers every 8-byte read request on the master side of a pseudo-terminal at once.
class InstantPeer {
  public:
    InstantPeer() {
        termios raw{};
        cfmakeraw(&raw);
        char name[128] = {};
        if (openpty(&master, &slave, name, &raw, nullptr) != 0) return;
        path = name;
        std::uint8_t data[2 * kCount + 1] = {2 * kCount};
        for (int i = 1; i <= 2 * kCount; ++i)
            data[i] = static_cast<std::uint8_t>(i);
        replyLength = buildRtuFrame(reply, kRtuMaxFrame, 1, 3, data, sizeof data);
        thread = std::thread([this] { run(); });
    }
    ~InstantPeer() {
        stop = true;
        if (thread.joinable()) thread.join();
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
    const std::string& slavePath() const { return path; }

  private:
    void run() {
        std::uint8_t request[8];
        int have = 0;
        while (!stop) {
            pollfd entry{master, POLLIN, 0};
            if (poll(&entry, 1, 20) <= 0) continue;
            const ssize_t n = ::read(master, request + have, sizeof request - have);
            if (n <= 0) continue;
            have += static_cast<int>(n);
            if (have < 8) continue;
            have = 0;
            for (int done = 0; done < replyLength;) {
                const ssize_t w = ::write(master, reply + done, replyLength - done);
                if (w > 0) done += static_cast<int>(w);
            }
        }
    }

    int master = -1;
    int slave = -1;
    std::string path;
    std::uint8_t reply[kRtuMaxFrame] = {};
    int replyLength = 0;
    std::atomic<bool> stop{false};
    std::thread thread;
};

// Opens at a rate and, for the last variant, takes the silence wait out to show what remains.
class BenchMaster : public MbusRtuMasterProtocol {
  public:
    void dropSilence() { silenceMs = 0; }
};

void transactions(benchmark::State& state, int baud, bool silence) {
    InstantPeer peer;
    BenchMaster master;
    if (master.openConnection(peer.slavePath().c_str(), baud) != MBR_SUCCESS) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    if (!silence) master.dropSilence();
    std::int16_t values[kCount];
    for (auto _ : state) {
        if (master.readHoldingRegisters(1, 1, values, kCount) != MBR_SUCCESS) {
            state.SkipWithError("transaction failed");
            break;
        }
        benchmark::DoNotOptimize(values);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["tx/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ReadHolding9600(benchmark::State& state) {
    transactions(state, 9600, true);
}
void BM_ReadHolding115200(benchmark::State& state) {
    transactions(state, 115200, true);
}
void BM_ReadHoldingWithoutSilence(benchmark::State& state) {
    transactions(state, 115200, false);
}
BENCHMARK(BM_ReadHolding9600)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadHolding115200)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadHoldingWithoutSilence)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_Crc16(benchmark::State& state) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(state.range(0)));
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 31);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc16(data.data(), data.size()));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(8)->Arg(256)->Arg(65536);

void BM_FrameBuildAndCheck(benchmark::State& state) {
    std::uint8_t frame[kRtuMaxFrame];
    std::uint8_t data[2 * kCount + 1] = {2 * kCount};
    for (auto _ : state) {
        const int length = buildRtuFrame(frame, kRtuMaxFrame, 1, 3, data, sizeof data);
        benchmark::DoNotOptimize(checkRtuReply(frame, length, 1, 3, sizeof data));
    }
}
BENCHMARK(BM_FrameBuildAndCheck);

}  // namespace
}  // namespace kvx
