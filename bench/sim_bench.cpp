// How fast the simulated controller serves, and how long a block-A transaction takes with
// 9600-baud wire timing compared with the time its bytes need on the line.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "link/crc16.h"
#include "link/mbus_rtu_master_protocol.h"
#include "sim/modbus_slave.h"
#include "sim/sim_server.h"

namespace {

using kvx::sim::ControllerEngine;
using kvx::sim::ModbusSlave;
using kvx::sim::SimServer;

std::vector<std::uint8_t> blockARequest() {
    std::vector<std::uint8_t> f = {1, 4, 0, 0, 0, 44, 0, 0};
    kvx::appendCrc16(f.data(), 6);
    return f;
}

// The engine and slave alone: one block-A request in, its reply out, 100 ms of engine time
// apart (one model step per request).
void BM_SlaveBlockA(benchmark::State& state) {
    ControllerEngine engine;
    ModbusSlave slave(engine);
    const auto req = blockARequest();
    std::vector<std::uint8_t> reply;
    std::int64_t ms = 0;
    for (auto _ : state) {
        slave.handle(req.data(), req.size(), ms += 100, reply);
        benchmark::DoNotOptimize(reply.data());
    }
    state.counters["requests/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SlaveBlockA);

// Requests served over the pseudo-terminal by a bare client, no wire timing.
void BM_ServedOverPty(benchmark::State& state) {
    SimServer server;
    if (server.start() != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const int fd = ::open(server.devicePath().c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    const auto req = blockARequest();
    std::uint8_t buf[256];
    for (auto _ : state) {
        if (::write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size())) break;
        std::size_t got = 0;
        while (got < 93) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) break;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        if (got != 93) {
            state.SkipWithError("short reply");
            break;
        }
    }
    state.counters["requests/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    ::close(fd);
}
BENCHMARK(BM_ServedOverPty)->UseRealTime();

// Our master reading block A with wire timing on: 8 request and 93 reply bytes at 9600 8N1,
// the master's 5 ms silence and the slave's 3.5-character turnaround.
void BM_BlockAWireTiming(benchmark::State& state) {
    SimServer server;
    if (server.start() != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    server.setWireTiming(true);
    kvx::MbusRtuMasterProtocol master;
    master.setReplyTimeout(3000);
    if (master.openConnection(server.devicePath().c_str(), 9600) != 0) {
        state.SkipWithError("cannot open");
        return;
    }
    std::int16_t regs[44];
    for (auto _ : state) {
        if (master.readInputRegisters(1, 1, regs, 44) != 0) {
            state.SkipWithError("transaction failed");
            break;
        }
    }
    const double lineMs = (8 + 93) * SimServer::byteTimeUs() / 1000.0;
    state.counters["line_ms"] = lineMs;
    state.counters["ratio"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * lineMs / 1000.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BlockAWireTiming)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace
