// What the traffic monitor costs the poll: one poll tick of the viewer (its three reads of the
// input blocks of firmware 1.17) through the device link over a pseudo-terminal to a peer that
// answers at once, with the monitor off, on, and on with the frames read out and formatted
// after each tick as kvx-probe --monitor and the Traffic window do; and the ring's recording
// and the line format on their own.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "link/result_codes.h"
#include "link/rtu_device_link.h"
#include "link/rtu_frame.h"
#include "link/traffic_record.h"

namespace kvx {
namespace {

// Answers every read of input registers (function 4) on the master side at once, with as many
// registers as asked.
class ReadPeer {
  public:
    ReadPeer() {
        termios raw{};
        cfmakeraw(&raw);
        char name[128] = {};
        if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) return;
        path_ = name;
        thread_ = std::thread([this] { run(); });
    }
    ~ReadPeer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
    }
    const std::string& slavePath() const { return path_; }

  private:
    void run() {
        std::uint8_t request[8];
        int have = 0;
        std::uint8_t data[kRtuMaxData] = {};
        std::uint8_t reply[kRtuMaxFrame];
        while (!stop_) {
            pollfd entry{master_, POLLIN, 0};
            if (poll(&entry, 1, 20) <= 0) continue;
            const ssize_t n = ::read(master_, request + have, sizeof request - have);
            if (n <= 0) continue;
            have += static_cast<int>(n);
            if (have < 8) continue;
            have = 0;
            const int count = request[4] << 8 | request[5];
            data[0] = static_cast<std::uint8_t>(2 * count);
            const int length = buildRtuFrame(reply, kRtuMaxFrame, 1, 4, data, 1 + 2 * count);
            for (int done = 0; done < length;) {
                const ssize_t w = ::write(master_, reply + done, length - done);
                if (w > 0) done += static_cast<int>(w);
            }
        }
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

enum Monitor { kOff, kOn, kOnAndWatched };

void BM_PollTickMonitor(benchmark::State& state) {
    const auto monitor = static_cast<Monitor>(state.range(0));
    ReadPeer peer;
    RtuDeviceLink link("", peer.slavePath());
    if (link.openConnection("COM1") != MBR_SUCCESS) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    TrafficRing ring;
    if (monitor != kOff) link.setTrafficRing(&ring);
    std::vector<TrafficFrame> frames;
    frames.reserve(ring.capacity());
    std::uint64_t seen = 0;
    std::size_t characters = 0;
    std::int16_t values[44];
    for (auto _ : state) {
        // The viewer's poll of firmware 1.17: input registers 1-44, 51-86, 92-117.
        const int a = link.readInputRegisters(1, 1, values, 44);
        const int b = link.readInputRegisters(1, 51, values, 36);
        const int c = link.readInputRegisters(1, 92, values, 26);
        if (a != MBR_SUCCESS || b != MBR_SUCCESS || c != MBR_SUCCESS) {
            state.SkipWithError("a read failed");
            break;
        }
        if (monitor == kOnAndWatched) {
            frames.clear();
            ring.readSince(seen, frames);
            for (const TrafficFrame& f : frames) {
                characters += formatTrafficLine(f).size();
                seen = f.sequence;
            }
        }
        benchmark::DoNotOptimize(values);
    }
    link.setTrafficRing(nullptr);
    benchmark::DoNotOptimize(characters);
    state.counters["ticks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PollTickMonitor)
    ->ArgName("monitor")
    ->Arg(kOff)
    ->Arg(kOn)
    ->Arg(kOnAndWatched)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// A request and its 93-byte reply into the ring, as the master records them.
void BM_RingRecordPair(benchmark::State& state) {
    TrafficRing ring;
    std::uint8_t request[8] = {1, 4, 0, 0, 0, 44, 0xF1, 0xD7};
    std::uint8_t reply[93] = {1, 4, 88};
    for (auto _ : state) {
        const std::int64_t sent = ring.recordRequest(TrafficFraming::rtu, request, 8, 1, 0);
        ring.recordReply(TrafficFraming::rtu, reply, 93, 1, MBR_SUCCESS, sent);
    }
    benchmark::DoNotOptimize(ring.lastSequence());
}
BENCHMARK(BM_RingRecordPair);

void BM_FormatReplyLine(benchmark::State& state) {
    TrafficRing ring;
    std::uint8_t reply[93] = {1, 4, 88};
    ring.recordReply(TrafficFraming::rtu, reply, 93, 1, MBR_SUCCESS, TrafficRing::nowUs());
    std::vector<TrafficFrame> frames;
    ring.readSince(0, frames);
    for (auto _ : state)
        benchmark::DoNotOptimize(formatTrafficLine(frames.front()));
}
BENCHMARK(BM_FormatReplyLine);

}  // namespace
}  // namespace kvx
