// The network transports end to end through the device link, against a scripted peer on
// loopback: what each thing a network can do to a transaction gives, and whether the link is
// still connected after it.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "link/mbap_frame.h"
#include "link/net_stream.h"
#include "link/result_codes.h"
#include "link/rtu_device_link.h"
#include "link/serial_port.h"
#include "tests/link/loopback_server.h"
#include "tests/link/pty_peer.h"
#include "tests/link/test_pki.h"

namespace kvx {
namespace {

using test::Bytes;
using testing::HasSubstr;

constexpr int kReplyTimeoutMs = 150;
constexpr int kPeerWaitMs = 3000;

// What the peer does with one request; it may close or reset the connection (setting fd to -1).
using Answer = std::function<void(int& fd, const Bytes& request)>;

// Accepts connections one after another and answers the requests on each with `answer`,
// reading requests as MBAP frames or as 8-byte RTU frames. A connection stays open until the
// peer's script closes it or the test ends.
class ScriptedPeer {
  public:
    ScriptedPeer(bool mbap, Answer answer) : mbap_(mbap), answer_(std::move(answer)) {
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedPeer() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        listener_.close();
        thread_.join();
    }
    int port() const { return listener_.port(); }
    std::vector<Bytes> requests() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

  private:
    bool stopping() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return stop_;
    }
    void run() {
        while (!stopping()) {
            int fd = listener_.accept(50);
            if (fd < 0) continue;
            while (fd >= 0 && !stopping()) {
                bool closed = false;
                Bytes request = test::readFd(fd, mbap_ ? kMbapHeaderLength : 8, 50, &closed);
                if (closed) break;
                if (request.empty()) continue;
                if (mbap_ && request.size() == kMbapHeaderLength) {
                    const int rest = (request[4] << 8 | request[5]) - 1;
                    const Bytes pdu = test::readFd(fd, static_cast<std::size_t>(rest), kPeerWaitMs);
                    request.insert(request.end(), pdu.begin(), pdu.end());
                }
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    requests_.push_back(request);
                }
                answer_(fd, request);
            }
            if (fd >= 0) ::close(fd);
        }
    }

    bool mbap_;
    Answer answer_;
    test::LoopbackListener listener_;
    std::mutex mutex_;
    bool stop_ = false;
    std::vector<Bytes> requests_;
    std::thread thread_;
};

// The MBAP reply to a read of two registers, echoing the request's transaction and unit.
Bytes mbapReply(const Bytes& request, Bytes pdu) {
    Bytes reply(request.begin(), request.begin() + kMbapHeaderLength);
    reply[4] = 0;
    reply[5] = static_cast<std::uint8_t>(pdu.size() + 1);
    for (std::uint8_t b : pdu)
        reply.push_back(b);
    return reply;
}

const Bytes kTwoRegisters{0x03, 0x04, 0x12, 0x34, 0xFE, 0xDC};

void sendSplit(int fd, const Bytes& bytes) {
    for (std::uint8_t b : bytes) {
        test::writeFd(fd, {b});
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

struct Case {
    const char* what;
    Answer answer;
    int expected;
    bool stillConnected;
};

void runCases(const char* scheme, bool mbap, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer(mbap, c.answer);
        RtuDeviceLink link("");
        ASSERT_EQ(link.setReplyTimeout(kReplyTimeoutMs), MBR_SUCCESS);
        const std::string name = std::string(scheme) + "127.0.0.1:" + std::to_string(peer.port());
        ASSERT_EQ(link.openConnection(name), MBR_SUCCESS) << link.lastOpenError();
        std::int16_t values[2] = {7, 7};
        EXPECT_EQ(link.readHoldingRegisters(1, 1, values, 2), c.expected);
        if (c.expected == MBR_SUCCESS) {
            EXPECT_EQ(static_cast<std::uint16_t>(values[0]), 0x1234);
            EXPECT_EQ(static_cast<std::uint16_t>(values[1]), 0xFEDC);
        } else {
            EXPECT_EQ(values[0], 0);
        }
        EXPECT_EQ(link.isConnected(), c.stillConnected);
        if (!link.isConnected()) {
            // What the poll cycle's reconnect does: a closed link opens again and works.
            ASSERT_EQ(link.openConnection(name), MBR_SUCCESS) << link.lastOpenError();
        }
    }
}

TEST(ModbusTcpMaster, GivesTheLineResultForEachThingTheNetworkDoes) {
    auto reply = [](Bytes pdu) {
        return [pdu](int& fd, const Bytes& request) { test::writeFd(fd, mbapReply(request, pdu)); };
    };
    auto header = [](Bytes bytes) {
        return [bytes](int& fd, const Bytes&) { test::writeFd(fd, bytes); };
    };
    const std::vector<Case> cases = {
        {"reply", reply(kTwoRegisters), MBR_SUCCESS, true},
        {"reply split into single bytes",
         [](int& fd, const Bytes& request) { sendSplit(fd, mbapReply(request, kTwoRegisters)); },
         MBR_SUCCESS, true},
        {"no reply (half-open)", [](int&, const Bytes&) {}, MBR_REPLY_TIMEOUT, true},
        {"gateway: path unavailable", reply({0x83, 10}), MBR_REPLY_TIMEOUT, true},
        {"gateway: target failed to respond", reply({0x83, 11}), MBR_REPLY_TIMEOUT, true},
        {"slave exception", reply({0x83, 2}), mbrException(2), true},
        {"another transaction",
         [](int& fd, const Bytes& request) {
             Bytes r = mbapReply(request, kTwoRegisters);
             r[1] ^= 0x40;
             test::writeFd(fd, r);
         },
         MBR_FRAME_MISMATCH, true},
        {"another unit",
         [](int& fd, const Bytes& request) {
             Bytes r = mbapReply(request, kTwoRegisters);
             r[6] = 2;
             test::writeFd(fd, r);
         },
         MBR_FRAME_MISMATCH, true},
        {"more registers than asked", reply({0x03, 0x06, 0x12, 0x34, 0xFE, 0xDC, 0, 0}),
         MBR_REPLY_MISMATCH, true},
        {"protocol id 1", header({0, 1, 0, 1, 0, 7, 1, 3, 4, 0x12, 0x34, 0xFE, 0xDC}),
         MBR_CRC_MISMATCH, false},
        {"length 0", header({0, 1, 0, 0, 0, 0, 1}), MBR_CRC_MISMATCH, false},
        {"length 300 (oversize)", header({0, 1, 0, 0, 0x01, 0x2C, 1, 3}), MBR_CRC_MISMATCH, false},
        {"length longer than the bytes sent", header({0, 1, 0, 0, 0, 9, 1, 3, 4, 0x12}),
         MBR_REPLY_TIMEOUT, false},
        {"half a header", header({0, 1, 0}), MBR_REPLY_TIMEOUT, false},
        {"closed mid-frame",
         [](int& fd, const Bytes& request) {
             test::writeFd(fd, Bytes(request.begin(), request.begin() + 9));
             ::close(fd);
             fd = -1;
         },
         MBR_IO_FAILURE, false},
        {"closed before replying",
         [](int& fd, const Bytes&) {
             ::close(fd);
             fd = -1;
         },
         MBR_IO_FAILURE, false},
        {"reset",
         [](int& fd, const Bytes&) {
             test::resetFd(fd);
             fd = -1;
         },
         MBR_IO_FAILURE, false},
    };
    runCases("modbus-tcp://", true, cases);
}

TEST(ModbusTcpMaster, NumbersTransactionsAndSendsTheSlaveAsUnitId) {
    ScriptedPeer peer(true, [](int& fd, const Bytes& request) {
        test::writeFd(fd, request[7] == 6 ? request : mbapReply(request, kTwoRegisters));
    });
    RtuDeviceLink link("");
    ASSERT_EQ(link.openConnection("modbus-tcp://localhost:" + std::to_string(peer.port())),
              MBR_SUCCESS)
        << link.lastOpenError();
    std::int16_t values[2];
    EXPECT_EQ(link.readHoldingRegisters(17, 1, values, 2), MBR_SUCCESS);
    EXPECT_EQ(link.writeSingleRegister(17, 5, 0x0102), MBR_SUCCESS);
    EXPECT_EQ(link.readHoldingRegisters(17, 1, values, 2), MBR_SUCCESS);
    const std::vector<Bytes> requests = peer.requests();
    ASSERT_EQ(requests.size(), 3U);
    EXPECT_EQ(requests[0], (Bytes{0, 1, 0, 0, 0, 6, 17, 3, 0, 0, 0, 2}));
    EXPECT_EQ(requests[1], (Bytes{0, 2, 0, 0, 0, 6, 17, 6, 0, 4, 1, 2}));
    EXPECT_EQ(requests[2][1], 3);
}

TEST(ModbusTcpMaster, PassesOverALateReplyToAnAttemptGivenUp) {
    // The first request is answered late, after the master has given up on it; the retry must
    // not take that answer (all zeros) for its own, and waits on for its own.
    int answered = 0;
    ScriptedPeer peer(true, [&answered](int& fd, const Bytes& request) {
        if (answered++ == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kReplyTimeoutMs + 50));
            Bytes stale = mbapReply(request, {0x03, 0x04, 0, 0, 0, 0});
            test::writeFd(fd, stale);
            return;
        }
        test::writeFd(fd, mbapReply(request, kTwoRegisters));
    });
    MbusTcpMasterProtocol master;
    ASSERT_EQ(master.setReplyTimeout(kReplyTimeoutMs), MBR_SUCCESS);
    ASSERT_EQ(master.setRetryCount(3), MBR_SUCCESS);
    auto stream = std::make_unique<NetStream>();
    ASSERT_EQ(stream->connect("127.0.0.1", peer.port(), kPeerWaitMs), SP_OK);
    ASSERT_EQ(master.attachChannel(std::move(stream)), MBR_SUCCESS);
    std::int16_t values[2];
    EXPECT_EQ(master.readHoldingRegisters(1, 1, values, 2), MBR_SUCCESS);
    EXPECT_EQ(static_cast<std::uint16_t>(values[0]), 0x1234);
    EXPECT_GE(master.lastTransactionId(), 2);
}

// The Modbus TCP master's verdict on each kind of reply, as the traffic record shows it: which
// of transaction, unit and function was another, a reply cut short (by the time-out or a close)
// apart from one that never began, the exception's code.
TEST(ModbusTcpMaster, RecordsTheVerdictOnEachKindOfReplyAsFineAsItsBytesTellIt) {
    auto reply = [](Bytes pdu) {
        return [pdu](int& fd, const Bytes& request) { test::writeFd(fd, mbapReply(request, pdu)); };
    };
    auto changed = [](std::size_t at, std::uint8_t value) {
        return [at, value](int& fd, const Bytes& request) {
            Bytes r = mbapReply(request, kTwoRegisters);
            r[at] = value;
            test::writeFd(fd, r);
        };
    };
    const struct {
        const char* what;
        Answer answer;
        const char* verdict;  // the words before the delay
    } cases[] = {
        {"reply", reply(kTwoRegisters), "good"},
        {"another transaction", changed(1, 0x41), "mismatch"},
        {"another unit", changed(6, 2), "wrong-slave"},
        {"another function", changed(7, 4), "wrong-function"},
        {"slave exception", reply({0x83, 2}), "exception 2"},
        {"no reply", [](int&, const Bytes&) {}, "timeout"},
        {"half a header",
         [](int& fd, const Bytes&) {
             test::writeFd(fd, {0, 1, 0});
         },
         "truncated"},
        {"length longer than the bytes sent",
         [](int& fd, const Bytes&) {
             test::writeFd(fd, {0, 1, 0, 0, 0, 9, 1, 3, 4, 0x12});
         },
         "truncated"},
        {"closed mid-frame",
         [](int& fd, const Bytes& request) {
             test::writeFd(fd, Bytes(request.begin(), request.begin() + 9));
             ::close(fd);
             fd = -1;
         },
         "truncated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer(true, c.answer);
        MbusTcpMasterProtocol master;
        ASSERT_EQ(master.setReplyTimeout(kReplyTimeoutMs), MBR_SUCCESS);
        ASSERT_EQ(master.setRetryCount(0), MBR_SUCCESS);
        auto stream = std::make_unique<NetStream>();
        ASSERT_EQ(stream->connect("127.0.0.1", peer.port(), kPeerWaitMs), SP_OK);
        ASSERT_EQ(master.attachChannel(std::move(stream)), MBR_SUCCESS);
        TrafficRing ring(8);
        master.setTrafficRing(&ring);
        std::int16_t values[2];
        master.readHoldingRegisters(1, 1, values, 2);
        std::vector<TrafficFrame> frames;
        ASSERT_EQ(ring.readSince(0, frames), 2U);
        ASSERT_EQ(frames[1].direction, TrafficDirection::rx);
        EXPECT_THAT(formatTrafficLine(frames[1]), HasSubstr(std::string(" ") + c.verdict + " ("));
    }
}

TEST(RtuOverTcpMaster, TakesTheSerialReceiveSequence) {
    const Bytes reply = test::withCrc({0x01, 0x03, 0x04, 0x12, 0x34, 0xFE, 0xDC});
    auto send = [](Bytes bytes) {
        return [bytes](int& fd, const Bytes&) { test::writeFd(fd, bytes); };
    };
    Bytes damaged = reply;
    damaged[4] ^= 1;
    const std::vector<Case> cases = {
        {"reply", send(reply), MBR_SUCCESS, true},
        {"reply split into single bytes", [reply](int& fd, const Bytes&) { sendSplit(fd, reply); },
         MBR_SUCCESS, true},
        {"echo of the request, then the reply",
         [reply](int& fd, const Bytes& request) {
             test::writeFd(fd, request);
             test::writeFd(fd, reply);
         },
         MBR_SUCCESS, true},
        {"no reply", [](int&, const Bytes&) {}, MBR_REPLY_TIMEOUT, true},
        {"damaged reply", send(damaged), MBR_CRC_MISMATCH, true},
        {"another slave", send(test::withCrc({0x02, 0x03, 0x04, 0x12, 0x34, 0xFE, 0xDC})),
         MBR_FRAME_MISMATCH, true},
        {"closed mid-frame",
         [reply](int& fd, const Bytes&) {
             test::writeFd(fd, Bytes(reply.begin(), reply.begin() + 4));
             ::close(fd);
             fd = -1;
         },
         MBR_IO_FAILURE, false},
        {"reset",
         [](int& fd, const Bytes&) {
             test::resetFd(fd);
             fd = -1;
         },
         MBR_IO_FAILURE, false},
    };
    runCases("tcp://", false, cases);
}

TEST(NetworkOpen, SaysWhyAnOpenFailed) {
    RtuDeviceLink link("");
    const int unused = test::unusedLoopbackPort();
    struct Case {
        std::string name;
        const char* reason;
    };
    const Case cases[] = {
        {"tcp://127.0.0.1:" + std::to_string(unused), "was refused"},
        {"modbus-tcp://localhost:" + std::to_string(unused), "was refused"},
        {"tcp://", "tcp:// needs a host"},
        {"tcp://127.0.0.1", "needs a port"},
        {"modbus-tcp://gw:99999", "port 99999 is out of range 1-65535"},
        {"modbus-tcp://no-such-host.invalid", "cannot find host no-such-host.invalid"},
        {"modbus-tls://127.0.0.1:" + std::to_string(unused), "no CA file is configured"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(link.openConnection(c.name), MBR_OPEN_FAILED);
        EXPECT_THAT(link.lastOpenError(), HasSubstr(c.reason));
        EXPECT_FALSE(link.isConnected());
    }
    // A serial port keeps its result codes and says nothing more.
    EXPECT_NE(link.openConnection("/dev/kvx-no-such-port"), MBR_SUCCESS);
    EXPECT_EQ(link.lastOpenError(), "");
}

TEST(NetworkOpen, AConnectThatIsNeverAnsweredIsGivenUp) {
    // A listener whose queue is full and that never accepts: the system drops further
    // connection requests, as a host behind a dead route would.
    test::LoopbackListener listener(0);
    std::vector<NetStream> waiting(4);
    for (NetStream& s : waiting)
        s.connect("127.0.0.1", listener.port(), 50);
    RtuDeviceLink link("");
    link.setConnectTimeout(200);
    EXPECT_EQ(link.openConnection("modbus-tcp://127.0.0.1:" + std::to_string(listener.port())),
              MBR_OPEN_FAILED);
    EXPECT_THAT(link.lastOpenError(), HasSubstr("took longer than 200 ms"));
    EXPECT_FALSE(link.isConnected());
}

TEST(NetworkOpen, ReachesAnIpv6LiteralInBrackets) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 1) != 0) {
        if (fd >= 0) ::close(fd);
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    RtuDeviceLink link("");
    EXPECT_EQ(link.openConnection("modbus-tcp://[::1]:" + std::to_string(ntohs(address.sin6_port))),
              MBR_SUCCESS)
        << link.lastOpenError();
    EXPECT_TRUE(link.isConnected());
    link.closeConnection();
    ::close(fd);
}

TEST(NetworkOpen, ModbusTlsReadsThroughAVerifiedMutualTlsSession) {
    test::TestPki pki("link");
    const test::CertFiles ca = pki.makeCa("ca", "Plant CA");
    const test::CertFiles server = pki.makeCert("server", ca, "gw", {"DNS:localhost"});
    const test::CertFiles client = pki.makeCert("client", ca, "viewer", {});
    std::string error;
    const auto context = TlsContext::server(server.cert, server.key, ca.cert, error);
    ASSERT_NE(context, nullptr) << error;

    test::LoopbackListener listener;
    std::thread peer([&] {
        NetStream s;
        const int fd = listener.accept(kPeerWaitMs);
        if (fd < 0) return;
        s.adopt(fd);
        if (s.startTls(*context, "", kPeerWaitMs) != SP_OK) return;
        std::uint8_t request[12];
        if (s.read(request, 12, kPeerWaitMs) != SP_OK) return;
        const Bytes reply = mbapReply(Bytes(request, request + 12), kTwoRegisters);
        s.write(reply.data(), static_cast<int>(reply.size()), kPeerWaitMs);
        std::uint8_t more;
        s.read(&more, 1, kPeerWaitMs);  // until the master closes
    });
    RtuDeviceLink link("");
    link.setTlsFiles(TlsFiles{ca.cert, client.cert, client.key});
    ASSERT_EQ(link.openConnection("modbus-tls://localhost:" + std::to_string(listener.port())),
              MBR_SUCCESS)
        << link.lastOpenError();
    std::int16_t values[2];
    EXPECT_EQ(link.readHoldingRegisters(1, 1, values, 2), MBR_SUCCESS);
    EXPECT_EQ(static_cast<std::uint16_t>(values[1]), 0xFEDC);
    link.closeConnection();
    peer.join();
}

}  // namespace
}  // namespace kvx
