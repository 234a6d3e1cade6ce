// The network transports' own cost: Modbus TCP transactions over loopback against a peer that
// answers at once, ours beside libmodbus's TCP client on the same peer, and connect to first
// good read over plain TCP and over mutual TLS.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "link/mbap_frame.h"
#include "link/net_stream.h"
#include "link/result_codes.h"
#include "link/rtu_device_link.h"
#include "link/serial_port.h"
#include "link/tls_context.h"
#include "tests/link/test_pki.h"

namespace kvx {
namespace {

constexpr int kCount = 10;  // registers per read

// Answers every MBAP read on every connection at once, in its own thread; with a TLS context,
// each connection shakes hands first.
class InstantMbapPeer {
  public:
    explicit InstantMbapPeer(const TlsContext* tls = nullptr) : tls_(tls) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 8);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~InstantMbapPeer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }

  private:
    void run() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 20) != 1) continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            NetStream s;
            s.adopt(fd);
            if (tls_ != nullptr && s.startTls(*tls_, "", 2000) != SP_OK) continue;
            serve(s);
        }
    }
    void serve(NetStream& s) {
        std::uint8_t request[kMbapMaxAdu];
        std::uint8_t reply[kMbapMaxAdu];
        std::uint8_t pdu[2 + 2 * kCount] = {3, 2 * kCount};
        while (!stop_) {
            const int got = s.read(request, kMbapHeaderLength, 20);
            if (got == SP_TIMEOUT) continue;
            if (got != SP_OK) return;
            MbapHeader header;
            if (decodeMbapHeader(request, kMbapHeaderLength, header) != MbapStatus::Ok) return;
            if (s.read(request + kMbapHeaderLength, header.pduLength(), 2000) != SP_OK) return;
            pdu[0] = request[kMbapHeaderLength];
            const int length = buildMbapReply(reply, kMbapMaxAdu, header, pdu, sizeof pdu);
            if (s.write(reply, length, 2000) != SP_OK) return;
        }
    }

    const TlsContext* tls_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_ModbusTcpReadOurs(benchmark::State& state) {
    InstantMbapPeer peer;
    RtuDeviceLink link("");
    if (link.openConnection("modbus-tcp://127.0.0.1:" + std::to_string(peer.port())) != 0) {
        state.SkipWithError(link.lastOpenError().c_str());
        return;
    }
    std::int16_t values[kCount];
    for (auto _ : state) {
        if (link.readHoldingRegisters(1, 1, values, kCount) != MBR_SUCCESS) {
            state.SkipWithError("transaction failed");
            break;
        }
        benchmark::DoNotOptimize(values);
    }
    state.counters["tx/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ModbusTcpReadOurs)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_ModbusTcpReadLibmodbus(benchmark::State& state) {
    InstantMbapPeer peer;
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", peer.port());
    if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        state.SkipWithError("libmodbus cannot connect");
        if (ctx) modbus_free(ctx);
        return;
    }
    std::uint16_t values[kCount];
    for (auto _ : state) {
        if (modbus_read_registers(ctx, 0, kCount, values) != kCount) {
            state.SkipWithError("transaction failed");
            break;
        }
        benchmark::DoNotOptimize(values);
    }
    state.counters["tx/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    modbus_close(ctx);
    modbus_free(ctx);
}
BENCHMARK(BM_ModbusTcpReadLibmodbus)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Open, one read, close: what a Connect costs before the first good poll.
void connectToFirstRead(benchmark::State& state, bool tls) {
    test::TestPki pki("bench");
    const test::CertFiles ca = pki.makeCa("ca", "Bench CA");
    const test::CertFiles server = pki.makeCert("server", ca, "gw", {"DNS:localhost"});
    const test::CertFiles client = pki.makeCert("client", ca, "viewer", {});
    std::string error;
    const auto context = TlsContext::server(server.cert, server.key, ca.cert, error);
    InstantMbapPeer peer(tls ? context.get() : nullptr);
    RtuDeviceLink link("");
    link.setTlsFiles(TlsFiles{ca.cert, client.cert, client.key});
    const std::string name = std::string(tls ? "modbus-tls" : "modbus-tcp") +
                             "://localhost:" + std::to_string(peer.port());
    std::int16_t values[kCount];
    for (auto _ : state) {
        if (link.openConnection(name) != 0 ||
            link.readHoldingRegisters(1, 1, values, kCount) != MBR_SUCCESS) {
            state.SkipWithError(("connect failed: " + link.lastOpenError()).c_str());
            break;
        }
        link.closeConnection();
    }
}
void BM_ConnectToFirstReadTcp(benchmark::State& state) {
    connectToFirstRead(state, false);
}
void BM_ConnectToFirstReadTls(benchmark::State& state) {
    connectToFirstRead(state, true);
}
BENCHMARK(BM_ConnectToFirstReadTcp)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConnectToFirstReadTls)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kvx
