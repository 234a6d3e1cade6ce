// Transactions run on the UI thread five times a second for hours: none of them may allocate.
// Allocations are counted per thread, so the scripted peer's own buffers do not count.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <new>

#include <memory>
#include <thread>

#include "link/mbus_rtu_master_protocol.h"
#include "link/mbus_tcp_master_protocol.h"
#include "link/net_stream.h"
#include "link/result_codes.h"
#include "link/rtu_device_link.h"
#include "link/traffic_record.h"
#include "tests/link/loopback_server.h"
#include "tests/link/pty_peer.h"

namespace {
thread_local long allocationsOnThisThread = 0;
}  // namespace

void* operator new(std::size_t size) {
    ++allocationsOnThisThread;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace kvx {
namespace {

using test::Bytes;
using test::Peer;
using test::PtyPair;
using test::withCrc;

TEST(RtuMasterAllocation, TransactionsAllocateNothing) {
    PtyPair pty;
    MbusRtuMasterProtocol master;
    ASSERT_EQ(master.setReplyTimeout(60), MBR_SUCCESS);
    ASSERT_EQ(master.setRetryCount(1), MBR_SUCCESS);
    ASSERT_EQ(master.openConnection(pty.slavePath().c_str(), 115200), MBR_SUCCESS);

    constexpr int kRounds = 5;
    // Per round: a good read, a good write, a multiple write, an exception, then a bad CRC that
    // is retried once (two requests), and a broadcast.
    constexpr int kRequestsPerRound = 7;
    Peer peer([&pty] {
        for (int i = 0; i < kRounds * kRequestsPerRound; ++i) {
            const Bytes request = pty.readRequest(2000);
            if (request.size() < 2) return;
            switch (i % kRequestsPerRound) {
                case 0:
                    pty.write(withCrc({0x01, 0x04, 0x04, 0x12, 0x34, 0xFF, 0xFE}));
                    break;
                case 1:
                    pty.write(request);
                    break;
                case 2:
                    pty.write(withCrc(Bytes(request.begin(), request.begin() + 6)));
                    break;
                case 3:
                    pty.write(withCrc({0x01, 0x83, 0x02}));
                    break;
                case 4:
                case 5:
                    pty.write({0x01, 0x03, 0x02, 0x00, 0x01, 0x00, 0x00});
                    break;
                default:
                    break;  // broadcast: no answer
            }
        }
    });

    std::int16_t values[2] = {};
    const std::int16_t pair[] = {3, -4};
    // Results are judged after counting, so the assertions' own work stays outside.
    int results[kRounds][6] = {};
    const long before = allocationsOnThisThread;
    for (auto& r : results) {
        r[0] = master.readInputRegisters(1, 1, values, 2);
        r[1] = master.writeSingleRegister(1, 7, 0x1234);
        r[2] = master.writeMultipleRegisters(1, 10, pair, 2);
        r[3] = master.readHoldingRegisters(1, 1, values, 1);
        r[4] = master.readHoldingRegisters(1, 1, values, 1);
        r[5] = master.writeSingleRegister(0, 7, 1);
    }
    const long during = allocationsOnThisThread - before;
    peer.join();
    EXPECT_EQ(during, 0);
    const int expected[6] = {MBR_SUCCESS, MBR_SUCCESS,      MBR_SUCCESS,
                             162,         MBR_CRC_MISMATCH, MBR_SUCCESS};
    for (const auto& r : results) {
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(r[i], expected[i]) << i;
    }
}

// The same over Modbus TCP: the poll runs the same five times a second through a gateway.
TEST(ModbusTcpMasterAllocation, TransactionsAllocateNothing) {
    test::LoopbackListener listener;
    constexpr int kRounds = 5;
    constexpr int kRequestsPerRound = 4;  // a read, a write, a multiple write, an exception
    std::thread peer([&listener] {
        const int fd = listener.accept(5000);
        if (fd < 0) return;
        for (int i = 0; i < kRounds * kRequestsPerRound; ++i) {
            Bytes request = test::readFd(fd, 7, 2000);
            if (request.size() < 7) break;
            const std::size_t rest = static_cast<std::size_t>((request[4] << 8 | request[5]) - 1);
            const Bytes pdu = test::readFd(fd, rest, 2000);
            if (pdu.size() < rest) break;
            Bytes reply(request.begin(), request.begin() + 7);  // id, protocol, length, unit
            switch (i % kRequestsPerRound) {
                case 0:
                    reply.insert(reply.end(), {0x04, 0x04, 0x12, 0x34, 0xFF, 0xFE});
                    break;
                case 1:
                case 2:
                    reply.insert(reply.end(), pdu.begin(), pdu.begin() + 5);
                    break;
                default:
                    reply.insert(reply.end(), {0x83, 0x02});
                    break;
            }
            const std::size_t length = reply.size() - 6;
            reply[4] = static_cast<std::uint8_t>(length >> 8);
            reply[5] = static_cast<std::uint8_t>(length);
            test::writeFd(fd, reply);
        }
        ::close(fd);
    });

    MbusTcpMasterProtocol master;
    ASSERT_EQ(master.setReplyTimeout(1000), MBR_SUCCESS);
    auto stream = std::make_unique<NetStream>();
    ASSERT_EQ(stream->connect("127.0.0.1", listener.port(), 2000), SP_OK);
    ASSERT_EQ(master.attachChannel(std::move(stream)), MBR_SUCCESS);

    std::int16_t values[2] = {};
    const std::int16_t pair[] = {3, -4};
    int results[kRounds][kRequestsPerRound] = {};
    const long before = allocationsOnThisThread;
    for (auto& r : results) {
        r[0] = master.readInputRegisters(1, 1, values, 2);
        r[1] = master.writeSingleRegister(1, 7, 0x1234);
        r[2] = master.writeMultipleRegisters(1, 10, pair, 2);
        r[3] = master.readHoldingRegisters(1, 1, values, 1);
    }
    const long during = allocationsOnThisThread - before;
    peer.join();
    EXPECT_EQ(during, 0);
    for (const auto& r : results) {
        EXPECT_EQ(r[0], MBR_SUCCESS);
        EXPECT_EQ(r[1], MBR_SUCCESS);
        EXPECT_EQ(r[2], MBR_SUCCESS);
        EXPECT_EQ(r[3], 162);
    }
}

// The poll through the device link, as the window runs it, with the traffic monitor off, then
// on, then off again. Off, the masters only test a null pointer: nothing is allocated, and so
// nothing formatted (a traffic line is a string longer than a short string's own storage).
// On, the ring was allocated when it was made and each frame is copied into it: still nothing.
TEST(TrafficRecordAllocation, PollAllocatesNothingWithTheMonitorOffOrOn) {
    PtyPair pty;
    RtuDeviceLink link("", pty.slavePath());
    ASSERT_EQ(link.setReplyTimeout(100), MBR_SUCCESS);  // set while closed, as the program does
    ASSERT_EQ(link.openConnection("COM1"), MBR_SUCCESS);

    constexpr int kPhases = 3;  // off, on, off
    constexpr int kRounds = 4;
    // Per round: a good read, a bad CRC, an exception, a reply that never comes.
    constexpr int kRequestsPerRound = 4;
    Peer peer([&pty] {
        for (int i = 0; i < kPhases * kRounds * kRequestsPerRound; ++i) {
            const Bytes request = pty.readRequest(2000);
            if (request.size() < 2) return;
            switch (i % kRequestsPerRound) {
                case 0:
                    pty.write(withCrc({0x01, 0x04, 0x04, 0x12, 0x34, 0xFF, 0xFE}));
                    break;
                case 1:
                    pty.write({0x01, 0x04, 0x04, 0x12, 0x34, 0xFF, 0xFE, 0x00, 0x00});
                    break;
                case 2:
                    pty.write(withCrc({0x01, 0x84, 0x02}));
                    break;
                default:
                    break;  // no reply
            }
        }
    });

    auto ring = std::make_unique<TrafficRing>(64);
    std::int16_t values[2] = {};
    long during[kPhases] = {};
    std::uint64_t recorded[kPhases] = {};
    int results[kPhases][kRounds][kRequestsPerRound] = {};
    for (int phase = 0; phase < kPhases; ++phase) {
        ASSERT_TRUE(link.setTrafficRing(phase == 1 ? ring.get() : nullptr));
        const std::uint64_t first = ring->lastSequence();
        const long before = allocationsOnThisThread;
        for (auto& r : results[phase]) {
            for (int& result : r)
                result = link.readInputRegisters(1, 1, values, 2);
        }
        during[phase] = allocationsOnThisThread - before;
        recorded[phase] = ring->lastSequence() - first;
    }
    peer.join();
    for (int phase = 0; phase < kPhases; ++phase) {
        SCOPED_TRACE(phase == 1 ? "monitor on" : "monitor off");
        EXPECT_EQ(during[phase], 0);
        // Every request and every reply (or its absence) once on; nothing at all off.
        EXPECT_EQ(recorded[phase], phase == 1 ? 2u * kRounds * kRequestsPerRound : 0u);
        for (const auto& r : results[phase]) {
            EXPECT_EQ(r[0], MBR_SUCCESS);
            EXPECT_EQ(r[1], MBR_CRC_MISMATCH);
            EXPECT_EQ(r[2], mbrException(2));
            EXPECT_EQ(r[3], MBR_REPLY_TIMEOUT);
        }
    }
}

}  // namespace
}  // namespace kvx
