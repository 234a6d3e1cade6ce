// The simulator served over TCP: libmodbus's TCP client, and raw sockets for what no good
// client sends (bad headers, a second connection, a frame cut short).
#include <arpa/inet.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/crc16.h"
#include "link/net_stream.h"
#include "link/serial_port.h"
#include "link/tls_context.h"
#include "sim/network_listener.h"
#include "sim/sim_server.h"
#include "tests/link/test_pki.h"

namespace kvx::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A plain client socket on the server's port; -1 when it cannot connect.
int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sendAll(int fd, const Bytes& b) {
    ASSERT_EQ(::send(fd, b.data(), b.size(), MSG_NOSIGNAL), static_cast<ssize_t>(b.size()));
}

// What arrives within waitMs (until want bytes, or the peer closes). closed tells whether the
// connection ended (an orderly close or a reset).
Bytes receive(int fd, std::size_t want, int waitMs, bool* closed = nullptr) {
    Bytes got;
    if (closed) *closed = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (got.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
        std::uint8_t buf[512];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (closed) *closed = true;
            break;
        }
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

Bytes mbap(std::uint16_t transaction, std::uint8_t unit, const Bytes& pdu) {
    const auto length = pdu.size() + 1;
    Bytes b(7 + pdu.size());
    b[0] = static_cast<std::uint8_t>(transaction >> 8);
    b[1] = static_cast<std::uint8_t>(transaction);
    b[4] = static_cast<std::uint8_t>(length >> 8);
    b[5] = static_cast<std::uint8_t>(length);
    b[6] = unit;
    std::copy(pdu.begin(), pdu.end(), b.begin() + 7);
    return b;
}

const Bytes kReadIdentity = {3, 0, 0, 0, 4};  // holding registers 1..4
constexpr std::size_t kIdentityReplyBytes = 7 + 2 + 8;

struct NetworkFixture : ::testing::Test {
    SimServer server;

    void listen(Framing framing, int stallMs = 5000) {
        ListenConfig c;
        c.framing = framing;
        c.stallMs = stallMs;
        std::string why;
        ASSERT_TRUE(server.listen(c, why)) << why;
        ASSERT_GT(server.listenPort(), 0);
        ASSERT_EQ(server.listenAddress(), "127.0.0.1:" + std::to_string(server.listenPort()));
    }
    // A good request answered on a fresh connection: the server is serving.
    void expectServed() {
        const int fd = connectTo(server.listenPort());
        ASSERT_GE(fd, 0);
        sendAll(fd, mbap(7, 1, kReadIdentity));
        const Bytes r = receive(fd, kIdentityReplyBytes, 2000);
        ::close(fd);
        ASSERT_EQ(r.size(), kIdentityReplyBytes);
        EXPECT_EQ(r[12], 117);  // the firmware register's low byte
    }
};

TEST_F(NetworkFixture, LibmodbusTcpClientReadsWritesAndGetsTheGatewayExceptions) {
    listen(Framing::mbap);
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", server.listenPort());
    ASSERT_NE(ctx, nullptr);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 0, 500000);
    ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);

    std::uint16_t regs[125] = {};
    ASSERT_EQ(modbus_read_registers(ctx, 0, 4, regs), 4) << modbus_strerror(errno);
    EXPECT_EQ(regs[1], 117);
    EXPECT_EQ(regs[2], 2417);
    ASSERT_EQ(modbus_read_input_registers(ctx, 0, 44, regs), 44) << modbus_strerror(errno);
    const std::uint16_t schedule[3] = {1100, 2100, 3100};
    ASSERT_EQ(modbus_write_registers(ctx, 40, 3, schedule), 3) << modbus_strerror(errno);
    ASSERT_EQ(modbus_write_register(ctx, 42, 3200), 1) << modbus_strerror(errno);
    ASSERT_EQ(modbus_read_registers(ctx, 40, 3, regs), 3);
    EXPECT_EQ(regs[0], 1100);
    EXPECT_EQ(regs[2], 3200);

    struct Case {
        int unit;
        int address;
        int expectedErrno;
    };
    const Case cases[] = {
        {1, 177, EMBXILADD},  // past the holding registers, as on the line
        {2, 0, EMBXGTAR},     // nobody at 2 behind the gateway
        {247, 0, EMBXGTAR},
        {255, 0, EMBXGPATH},  // no serial address at all (libmodbus sends no 248..254)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        modbus_set_slave(ctx, c.unit);
        EXPECT_EQ(modbus_read_registers(ctx, c.address, 1, regs), -1);
        EXPECT_EQ(errno, c.expectedErrno) << modbus_strerror(errno);
    }
    // Unit 0 is a broadcast: applied and never answered.
    modbus_set_slave(ctx, 0);
    const int rc = modbus_write_register(ctx, 40, 1234);
    EXPECT_TRUE(rc == 1 || errno == ETIMEDOUT) << modbus_strerror(errno);
    modbus_set_slave(ctx, 1);
    ASSERT_EQ(modbus_read_registers(ctx, 40, 1, regs), 1) << modbus_strerror(errno);
    EXPECT_EQ(regs[0], 1234);
    modbus_close(ctx);
    modbus_free(ctx);

    const ServerStats s = server.stats();
    EXPECT_EQ(s.gatewayReplies, 3);
    EXPECT_EQ(s.broadcasts, 1);
    EXPECT_EQ(s.connections, 1);
}

TEST_F(NetworkFixture, EchoesTransactionIdsAndAnswersPipelinedRequestsInTurn) {
    listen(Framing::mbap);
    const int fd = connectTo(server.listenPort());
    ASSERT_GE(fd, 0);
    // Two requests in one segment, the second split over two more.
    Bytes both = mbap(0xBEEF, 1, kReadIdentity);
    const Bytes second = mbap(0x0102, 1, {4, 0, 0, 0, 44});
    both.insert(both.end(), second.begin(), second.begin() + 3);
    sendAll(fd, both);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sendAll(fd, Bytes(second.begin() + 3, second.end()));
    const Bytes r = receive(fd, kIdentityReplyBytes + 9 + 88, 2000);
    ::close(fd);
    ASSERT_EQ(r.size(), kIdentityReplyBytes + 9 + 88);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 9), (Bytes{0xBE, 0xEF, 0, 0, 0, 11, 1, 3, 8}));
    const Bytes next(r.begin() + kIdentityReplyBytes, r.begin() + kIdentityReplyBytes + 9);
    EXPECT_EQ(next, (Bytes{1, 2, 0, 0, 0, 91, 1, 4, 88}));
}

// A header no master sends, or a frame left unfinished, costs that client its connection and
// nothing else: the next client is served.
TEST_F(NetworkFixture, DropsAClientWithABadHeaderOrAStalledFrameAndServesTheNext) {
    listen(Framing::mbap, 300);
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"length 0", {0, 1, 0, 0, 0, 0, 1, 3, 0, 0, 0, 1}},
        {"length 1", {0, 1, 0, 0, 0, 1, 1, 3, 0, 0, 0, 1}},
        {"length 255", {0, 1, 0, 0, 0, 255, 1}},
        {"length 0xFFFF", {0, 1, 0, 0, 0xFF, 0xFF, 1}},
        {"protocol id 1", {0, 1, 0, 1, 0, 6, 1, 3, 0, 0, 0, 1}},
        {"an RTU frame", {1, 3, 0, 0, 0, 4, 0x44, 0x09}},
        {"stalled mid-frame", {0, 1, 0, 0, 0, 6, 1, 3}},
        {"stalled in the header", {0, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int fd = connectTo(server.listenPort());
        ASSERT_GE(fd, 0);
        sendAll(fd, c.bytes);
        bool closed = false;
        const Bytes r = receive(fd, 1, 3000, &closed);
        EXPECT_TRUE(closed);
        EXPECT_TRUE(r.empty());
        ::close(fd);
        expectServed();
    }
    EXPECT_EQ(server.stats().dropped, static_cast<long>(std::size(cases)));
    EXPECT_EQ(server.stats().requests, static_cast<long>(std::size(cases)));
}

TEST_F(NetworkFixture, ServesOneClientAtATimeAndTurnsTheSecondAway) {
    listen(Framing::mbap);
    const int first = connectTo(server.listenPort());
    ASSERT_GE(first, 0);
    sendAll(first, mbap(1, 1, kReadIdentity));
    ASSERT_EQ(receive(first, kIdentityReplyBytes, 2000).size(), kIdentityReplyBytes);

    const int second = connectTo(server.listenPort());
    ASSERT_GE(second, 0);  // the kernel completes the handshake; the server then resets it
    ::send(second, mbap(2, 1, kReadIdentity).data(), 12, MSG_NOSIGNAL);
    bool closed = false;
    EXPECT_TRUE(receive(second, 1, 2000, &closed).empty());
    EXPECT_TRUE(closed);
    ::close(second);

    // The first is still served, and in step.
    sendAll(first, mbap(3, 1, kReadIdentity));
    const Bytes r = receive(first, kIdentityReplyBytes, 2000);
    ASSERT_EQ(r.size(), kIdentityReplyBytes);
    EXPECT_EQ(r[1], 3);
    // It leaves with a reset rather than a close: the line is free again all the same.
    const linger reset{1, 0};
    ::setsockopt(first, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(first);
    expectServed();
    EXPECT_EQ(server.stats().refused, 1);
    EXPECT_EQ(server.stats().connections, 2);
}

// RTU frames over TCP are received by the line's rules: split anywhere, a damaged frame
// skipped, another slave's frame ignored, and one client's leftovers never reach the next.
TEST_F(NetworkFixture, RtuFramingReceivesAsOnTheLine) {
    listen(Framing::rtu);
    Bytes request = {1, 3, 0, 0, 0, 4, 0, 0};
    appendCrc16(request.data(), 6);
    Bytes other = request;
    other[0] = 2;
    appendCrc16(other.data(), 6);

    int fd = connectTo(server.listenPort());
    ASSERT_GE(fd, 0);
    sendAll(fd, Bytes(request.begin(), request.begin() + 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    sendAll(fd, Bytes(request.begin() + 3, request.end()));
    Bytes r = receive(fd, 13, 2000);
    ASSERT_EQ(r.size(), 13u);
    EXPECT_TRUE(crc16Matches(r.data(), r.size()));
    EXPECT_EQ(r[6], 117);

    sendAll(fd, other);
    EXPECT_TRUE(receive(fd, 1, 200).empty());
    // Half a frame, then the client leaves: the next one starts clean.
    sendAll(fd, Bytes(request.begin(), request.begin() + 4));
    ::close(fd);
    fd = connectTo(server.listenPort());
    ASSERT_GE(fd, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sendAll(fd, request);
    r = receive(fd, 13, 2000);
    ASSERT_EQ(r.size(), 13u);
    EXPECT_TRUE(crc16Matches(r.data(), r.size()));
    ::close(fd);
    EXPECT_EQ(server.stats().ignored, 1);
    EXPECT_EQ(server.stats().requests, 2);
}

// The faults that mean something on a stream, as an MBAP master meets them.
TEST_F(NetworkFixture, MbapFaultsAsAGatewayWouldShowThem) {
    FaultSettings fs;
    fs.exceptionCode = 11;
    fs.lateDelayMs = 300;
    server.setFaultSettings(fs);
    listen(Framing::mbap);
    struct Case {
        FaultKind kind;
        std::size_t bytes;  // what arrives within the wait
        bool closed;
        int unit, function;  // of the reply, when one arrives
    };
    const Case cases[] = {
        {FaultKind::noReply, 0, false, 0, 0},
        {FaultKind::wrongAddress, kIdentityReplyBytes, false, 2, 3},
        {FaultKind::wrongFunction, kIdentityReplyBytes, false, 1, 4},
        {FaultKind::exception, 9, false, 1, 0x83},
        {FaultKind::late, 0, false, 0, 0},
        {FaultKind::truncated, kIdentityReplyBytes / 2, true, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(faultName(c.kind)));
        const FaultKind one[] = {c.kind};
        server.scriptFaults(one);
        const int fd = connectTo(server.listenPort());
        ASSERT_GE(fd, 0);
        sendAll(fd, mbap(0x4242, 1, kReadIdentity));
        bool closed = false;
        const Bytes r = receive(fd, kIdentityReplyBytes, 150, &closed);
        EXPECT_EQ(r.size(), c.bytes);
        EXPECT_EQ(closed, c.closed);
        if (r.size() >= 8) {
            EXPECT_EQ(r[0], 0x42);
            EXPECT_EQ(r[6], c.unit);
            EXPECT_EQ(r[7], c.function);
        }
        ::close(fd);
    }
    EXPECT_EQ(server.stats().faults, static_cast<long>(std::size(cases)));
    expectServed();
}

// Over TLS a client that stalls in the handshake, or speaks plain Modbus to it, is dropped
// before anything reaches the controller, and the next client is served.
TEST(NetworkTls, DropsAStalledOrPlainClientBeforeAnyModbusAndServesTheNext) {
    test::TestPki pki("sim-tls");
    const test::CertFiles ca = pki.makeCa("ca", "Plant CA");
    const test::CertFiles cert = pki.makeCert("server", ca, "gateway", {"IP:127.0.0.1"});
    const test::CertFiles client = pki.makeCert("client", ca, "viewer", {});
    std::string error;
    ListenConfig config;
    config.framing = Framing::mbap;
    config.handshakeMs = 300;
    config.tls = TlsContext::server(cert.cert, cert.key, ca.cert, error);
    ASSERT_TRUE(config.tls) << error;
    const auto clientContext =
        TlsContext::client(TlsFiles{ca.cert, client.cert, client.key}, error);
    ASSERT_TRUE(clientContext) << error;
    SimServer server;
    std::vector<std::string> events;
    std::mutex eventsMutex;
    server.setEventHook([&](const std::string& line) {
        std::lock_guard lock(eventsMutex);
        events.push_back(line);
    });
    ASSERT_TRUE(server.listen(config, error)) << error;

    const Bytes plain = mbap(1, 1, kReadIdentity);
    for (const bool sendPlain : {false, true}) {
        SCOPED_TRACE(sendPlain ? "plain Modbus" : "stalled handshake");
        const int fd = connectTo(server.listenPort());
        ASSERT_GE(fd, 0);
        if (sendPlain) sendAll(fd, plain);
        bool closed = false;
        receive(fd, 4096, 3000, &closed);
        EXPECT_TRUE(closed);
        ::close(fd);
    }
    NetStream good;
    ASSERT_EQ(good.connect("127.0.0.1", server.listenPort(), 2000), SP_OK);
    ASSERT_EQ(good.startTls(*clientContext, "127.0.0.1", 2000), SP_OK) << good.lastError();
    ASSERT_EQ(good.write(plain.data(), static_cast<int>(plain.size()), 1000), SP_OK);
    std::uint8_t reply[kIdentityReplyBytes];
    ASSERT_EQ(good.read(reply, sizeof reply, 2000), SP_OK) << good.lastError();
    EXPECT_EQ(reply[12], 117);
    good.close();

    const ServerStats s = server.stats();
    EXPECT_EQ(s.dropped, 2);
    EXPECT_EQ(s.requests, 1);
    server.stop();
    ASSERT_GE(events.size(), 3u);
    EXPECT_NE(events[0].find("dropped: the TLS handshake did not finish within 300 ms"),
              std::string::npos)
        << events[0];
    EXPECT_NE(events[1].find("dropped: TLS"), std::string::npos) << events[1];
    EXPECT_NE(events[2].find("connected"), std::string::npos) << events[2];
}

TEST(ListenAddress, ParsesPortHostAndBracketedIpv6) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"502", true, "127.0.0.1", 502},
        {"0", true, "127.0.0.1", 0},
        {"localhost:1502", true, "localhost", 1502},
        {"0.0.0.0:65535", true, "0.0.0.0", 65535},
        {"[::1]:802", true, "::1", 802},
        {"", false, "", 0},
        {":502", false, "", 0},
        {"host:", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:-1", false, "", 0},
        {"host:5o2", false, "", 0},
        {"::1:502", false, "", 0},
        {"[::1]502", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ListenAddress a;
        std::string why;
        EXPECT_EQ(parseListenAddress(c.text, a, why), c.ok);
        if (c.ok) {
            EXPECT_EQ(a.host, c.host);
            EXPECT_EQ(a.port, c.port);
        } else {
            EXPECT_FALSE(why.empty());
        }
    }
    EXPECT_TRUE(isLoopbackHost("127.0.0.1"));
    EXPECT_TRUE(isLoopbackHost("127.1.2.3"));
    EXPECT_TRUE(isLoopbackHost("::1"));
    EXPECT_FALSE(isLoopbackHost("0.0.0.0"));
    EXPECT_FALSE(isLoopbackHost("192.168.1.10"));
}

}  // namespace
}  // namespace kvx::sim
