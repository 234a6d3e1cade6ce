// How fast the simulated controller serves, how long a block-A transaction takes with
// 9600-baud wire timing compared with the time its bytes need on the line, and the masters over
// the network: our Modbus TCP master beside libmodbus's on the same simulator, and the time
// from opening a port to the first good read over a pseudo-terminal, TCP and TLS.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/crc16.h"
#include "link/mbus_rtu_master_protocol.h"
#include "link/mbus_tcp_master_protocol.h"
#include "link/net_stream.h"
#include "link/rtu_device_link.h"
#include "link/serial_port.h"
#include "link/tls_context.h"
#include "sim/modbus_slave.h"
#include "sim/sim_server.h"
#include "tests/link/test_pki.h"

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

// A simulator listening on loopback in MBAP framing, no wire timing.
bool listenMbap(SimServer& server, std::shared_ptr<const kvx::TlsContext> tls = nullptr) {
    kvx::sim::ListenConfig config;
    config.framing = kvx::sim::Framing::mbap;
    config.tls = std::move(tls);
    std::string why;
    return server.listen(config, why);
}

// One block-A read (44 input registers) per iteration by our Modbus TCP master over loopback.
// Beside BM_MbapBlockALibmodbus on the same simulator, the difference is the masters' own cost.
void BM_MbapBlockAOurs(benchmark::State& state) {
    SimServer server;
    if (!listenMbap(server)) {
        state.SkipWithError("cannot listen");
        return;
    }
    auto stream = std::make_unique<kvx::NetStream>();
    if (stream->connect("127.0.0.1", server.listenPort(), 2000) != kvx::SP_OK) {
        state.SkipWithError("cannot connect");
        return;
    }
    kvx::MbusTcpMasterProtocol master;
    master.setReplyTimeout(1000);
    master.setRequestSpacing(0);
    if (master.attachChannel(std::move(stream)) != 0) {
        state.SkipWithError("cannot attach");
        return;
    }
    std::int16_t regs[44];
    for (auto _ : state) {
        if (master.readInputRegisters(1, 1, regs, 44) != 0) {
            state.SkipWithError("transaction failed");
            break;
        }
    }
    state.counters["transactions/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MbapBlockAOurs)->UseRealTime();

void BM_MbapBlockALibmodbus(benchmark::State& state) {
    SimServer server;
    if (!listenMbap(server)) {
        state.SkipWithError("cannot listen");
        return;
    }
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", server.listenPort());
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 1, 0);
    if (modbus_connect(ctx) != 0) {
        state.SkipWithError("cannot connect");
        modbus_free(ctx);
        return;
    }
    std::uint16_t regs[44];
    for (auto _ : state) {
        if (modbus_read_input_registers(ctx, 0, 44, regs) != 44) {
            state.SkipWithError("transaction failed");
            break;
        }
    }
    state.counters["transactions/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    modbus_close(ctx);
    modbus_free(ctx);
}
BENCHMARK(BM_MbapBlockALibmodbus)->UseRealTime();

// From opening the port to the first good block-A read, then closing, through the device link
// the viewer uses: 0 the simulator's pseudo-terminal, 1 RTU over TCP, 2 Modbus TCP, 3 Modbus/TCP
// Security (mutual TLS, certificates made for the run).
void BM_ConnectToFirstGoodRead(benchmark::State& state) {
    const int transport = static_cast<int>(state.range(0));
    kvx::test::TestPki pki("bench-connect");
    const kvx::test::CertFiles ca = pki.makeCa("ca", "Plant CA");
    const kvx::test::CertFiles cert = pki.makeCert("server", ca, "gateway", {"IP:127.0.0.1"});
    const kvx::test::CertFiles client = pki.makeCert("client", ca, "viewer", {});
    SimServer server;
    std::string why;
    std::string port;
    if (transport == 0) {
        if (server.start() != 0) why = "no pseudo-terminal";
        port = server.devicePath();
    } else {
        kvx::sim::ListenConfig config;
        config.framing = transport == 1 ? kvx::sim::Framing::rtu : kvx::sim::Framing::mbap;
        if (transport == 3) config.tls = kvx::TlsContext::server(cert.cert, cert.key, ca.cert, why);
        if ((transport != 3 || config.tls) && server.listen(config, why))
            port = std::string(transport == 1   ? "tcp://"
                               : transport == 2 ? "modbus-tcp://"
                                                : "modbus-tls://") +
                   server.listenAddress();
    }
    if (port.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    const std::string dir = pki.dir();
    kvx::RtuDeviceLink link(dir);
    link.setTlsFiles(kvx::TlsFiles{ca.cert, client.cert, client.key});
    link.setReplyTimeout(1000);
    std::int16_t regs[44];
    for (auto _ : state) {
        if (link.openConnection(port) != 0 || link.readInputRegisters(1, 1, regs, 44) != 0) {
            state.SkipWithError(("no good read: " + link.lastOpenError()).c_str());
            break;
        }
        link.closeConnection();
        // The simulator serves one client at a time (and lifts a pseudo-terminal's exclusive
        // open once its client has gone): let it see this one go first, off the clock.
        state.PauseTiming();
        if (transport == 0) ::usleep(20000);
        while (server.stats().clients > 0)
            ::usleep(200);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ConnectToFirstGoodRead)
    ->ArgName("transport")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
