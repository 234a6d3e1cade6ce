// The traffic record: its line format (which scripts and saved files rely on), the ring's
// reading by sequence number, and what the RTU master records of each attempt.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "link/mbus_rtu_master_protocol.h"
#include "link/result_codes.h"
#include "link/traffic_record.h"
#include "tests/link/pty_peer.h"

namespace kvx {
namespace {

using test::Bytes;
using test::Peer;
using test::PtyPair;
using test::withCrc;

TrafficFrame frameOf(TrafficDirection direction, const Bytes& bytes, TrafficVerdict verdict,
                     std::int64_t delayUs) {
    TrafficFrame f;
    // 2026-12-09 01:02:03.000042 UTC
    f.wallUs = 1796778123LL * 1000000 + 42;
    f.direction = direction;
    f.verdict = verdict;
    f.delayUs = delayUs;
    f.length = static_cast<int>(bytes.size());
    for (std::size_t i = 0; i < bytes.size() && i < f.bytes.size(); ++i)
        f.bytes[i] = bytes[i];
    return f;
}

TEST(TrafficLine, FormatIsTimeDirectionHexVerdictAndDelay) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    using D = TrafficDirection;
    using V = TrafficVerdict;
    struct Case {
        TrafficFrame frame;
        std::string line;
    };
    Bytes longFrame(300, 0xAB);
    std::string longHex;
    for (int i = 0; i < kTrafficFrameBytes; ++i)
        longHex += " AB";
    auto mbapFrame = [&](const Bytes& bytes, V verdict, int result) {
        TrafficFrame f = frameOf(D::rx, bytes, verdict, 1000);
        f.framing = TrafficFraming::mbap;
        f.result = result;
        return f;
    };
    auto withResult = [](TrafficFrame f, int result) {
        f.result = result;
        return f;
    };
    const Case cases[] = {
        {frameOf(D::tx, {0x01, 0x04, 0x00, 0x00, 0x00, 0x2C, 0xF1, 0xD7}, V::sent, -1),
         "01:02:03.000042 TX 01 04 00 00 00 2C F1 D7"},
        {frameOf(D::rx, {0x01, 0x04, 0x02, 0x00, 0x0A, 0x39, 0x37}, V::good, 105249),
         "01:02:03.000042 RX 01 04 02 00 0A 39 37 good (105.2 ms)"},
        {frameOf(D::rx, {}, V::timeout, 3000400), "01:02:03.000042 RX - timeout (3000.4 ms)"},
        {frameOf(D::rx, {0x01, 0x84, 0x02, 0xC2, 0xC1}, V::exception, 900),
         "01:02:03.000042 RX 01 84 02 C2 C1 exception 2 (0.9 ms)"},
        // The code comes from the reply's bytes, over either framing, else from the result.
        {mbapFrame({0x00, 0x07, 0x00, 0x00, 0x00, 0x03, 0x01, 0x83, 0x0B}, V::exception,
                   mbrException(11)),
         "01:02:03.000042 RX 00 07 00 00 00 03 01 83 0B exception 11 (1.0 ms)"},
        {withResult(frameOf(D::rx, {0x01, 0x84}, V::exception, 0), mbrException(3)),
         "01:02:03.000042 RX 01 84 exception 3 (0.0 ms)"},
        {frameOf(D::rx, {0x01, 0x04, 0x04, 0x12}, V::truncated, 100000),
         "01:02:03.000042 RX 01 04 04 12 truncated (100.0 ms)"},
        {frameOf(D::rx, {0x02, 0x04, 0x02, 0x00, 0x0A, 0x39, 0x37}, V::wrongSlave, 0),
         "01:02:03.000042 RX 02 04 02 00 0A 39 37 wrong-slave (0.0 ms)"},
        {frameOf(D::tx, {0x01, 0x06}, V::notSent, -1), "01:02:03.000042 TX 01 06 not-sent"},
        // Cut at what the ring keeps, and said so.
        {frameOf(D::rx, longFrame, V::badCrc, 0),
         "01:02:03.000042 RX" + longHex + " ... (300 bytes) bad-crc (0.0 ms)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatTrafficLine(c.frame), c.line);
}

TEST(TrafficLine, VerdictOfEachResultCode) {
    using V = TrafficVerdict;
    const std::pair<int, V> cases[] = {
        {MBR_SUCCESS, V::good},
        {MBR_REPLY_TIMEOUT, V::timeout},
        {MBR_CRC_MISMATCH, V::badCrc},
        {MBR_FRAME_MISMATCH, V::mismatch},
        {MBR_REPLY_MISMATCH, V::mismatch},
        {mbrException(1), V::exception},
        {mbrException(4), V::exception},
        {mbrException(11), V::exception},
        {mbrException(0x45), V::exception},
        {mbrException(0x20), V::exception},
        {MBR_SEND_TIMEOUT, V::notSent},
        {MBR_IO_FAILURE, V::ioFailure},
        {MBR_WRONG_STATE, V::ioFailure},
    };
    for (const auto& [result, verdict] : cases) {
        EXPECT_EQ(trafficVerdictOf(result), verdict) << result;
    }
}

TEST(TrafficRing, ReadsWhatIsNewerThanASequenceAndKeepsTheNewestOnly) {
    TrafficRing ring(4);
    EXPECT_EQ(ring.lastSequence(), 0u);
    std::vector<TrafficFrame> out;
    EXPECT_EQ(ring.readSince(0, out), 0u);
    const std::uint8_t request[] = {1, 4, 0, 0, 0, 1, 0x31, 0xCA};
    for (std::uint8_t i = 0; i < 3; ++i) {
        const std::int64_t sent =
            ring.recordRequest(TrafficFraming::rtu, request, 8, 1, MBR_SUCCESS);
        const std::uint8_t reply[] = {1, 4, 2, 0, i};
        ring.recordReply(TrafficFraming::rtu, reply, 5, 1, MBR_REPLY_TIMEOUT, sent - 5000);
    }
    EXPECT_EQ(ring.lastSequence(), 6u);
    // Frames 1 and 2 have been overwritten: the first one read says so.
    ASSERT_EQ(ring.readSince(0, out), 4u);
    EXPECT_EQ(out.front().sequence, 3u);
    EXPECT_EQ(out.back().sequence, 6u);
    const TrafficFrame& reply = out.back();
    EXPECT_EQ(reply.direction, TrafficDirection::rx);
    EXPECT_EQ(reply.verdict, TrafficVerdict::timeout);
    EXPECT_EQ(reply.length, 5);
    EXPECT_EQ(reply.bytes[4], 2);
    EXPECT_GE(reply.delayUs, 5000);  // counted from the request's end it was given
    EXPECT_EQ(out[2].direction, TrafficDirection::tx);
    EXPECT_EQ(out[2].delayUs, -1);
    EXPECT_LE(out[2].monoUs, reply.monoUs);

    out.clear();
    EXPECT_EQ(ring.readSince(5, out), 1u);
    EXPECT_EQ(out.at(0).sequence, 6u);
    EXPECT_EQ(ring.readSince(6, out), 0u);
    out.clear();
    EXPECT_EQ(ring.readSince(0, out, 2), 2u);  // the newest two
    EXPECT_EQ(out.at(0).sequence, 5u);
    EXPECT_EQ(ring.readSince(0, out, 0), 0u);
}

// A reader on another thread never makes the writer wait: what the writer could not put in
// while the reader copied is counted as missed, and what the reader gets is whole and in order.
TEST(TrafficRing, ReaderOnAnotherThreadSeesWholeFramesInOrderAndMissesAreCounted) {
    TrafficRing ring(256);
    constexpr int kFrames = 20000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::uint8_t bytes[8];
        for (int i = 0; i < kFrames; ++i) {
            for (std::uint8_t& b : bytes)
                b = static_cast<std::uint8_t>(i);
            ring.recordRequest(TrafficFraming::rtu, bytes, 8, 1, MBR_SUCCESS);
        }
        done = true;
    });
    std::vector<TrafficFrame> frames;
    std::uint64_t last = 0;
    long read = 0, torn = 0, backwards = 0;
    while (!done || ring.lastSequence() > last) {
        frames.clear();
        ring.readSince(last, frames);
        for (const TrafficFrame& f : frames) {
            backwards += f.sequence <= last ? 1 : 0;
            last = f.sequence;
            ++read;
            for (int i = 1; i < 8; ++i)
                torn += f.bytes[static_cast<std::size_t>(i)] != f.bytes[0] ? 1 : 0;
        }
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(ring.lastSequence() + ring.missed(), static_cast<std::uint64_t>(kFrames));
    EXPECT_LE(read, static_cast<long>(ring.lastSequence()));
}

TEST(TrafficRing, CaptureKeepsTheFirstBytesAndCountsThemAll) {
    TrafficCapture capture;
    std::vector<std::uint8_t> chunk(100);
    for (int i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < chunk.size(); ++j)
            chunk[j] = static_cast<std::uint8_t>(i * 100 + j);
        capture.add(chunk.data(), static_cast<int>(chunk.size()));
    }
    EXPECT_EQ(capture.length, 300);
    EXPECT_EQ(capture.bytes[0], 0);
    EXPECT_EQ(capture.bytes[kTrafficFrameBytes - 1], static_cast<std::uint8_t>(259));
    capture.clear();
    EXPECT_EQ(capture.length, 0);
}

// What the RTU master records of each attempt: the request as written, then what it read of
// the reply with its verdict, an adapter's echo before it as a frame of its own; retries are
// attempts of their own.
TEST(TrafficRing, RtuMasterRecordsEachAttemptWithItsVerdict) {
    PtyPair pty;
    MbusRtuMasterProtocol master;
    ASSERT_EQ(master.setReplyTimeout(100), MBR_SUCCESS);
    ASSERT_EQ(master.setRetryCount(1), MBR_SUCCESS);
    ASSERT_EQ(master.openConnection(pty.slavePath().c_str(), 115200), MBR_SUCCESS);
    TrafficRing ring(64);
    master.setTrafficRing(&ring);

    const Bytes good = withCrc({0x01, 0x04, 0x04, 0x12, 0x34, 0x56, 0x78});
    Bytes damaged = good;
    damaged.back() ^= 0xFF;
    const Bytes exception = withCrc({0x01, 0x84, 0x02});
    Bytes request;
    Peer peer([&] {
        // A good reply; an exception; a damaged reply retried into silence; an echo, then the
        // reply.
        const Bytes script[][2] = {{good, {}}, {exception, {}}, {damaged, {}}, {{}, {}}};
        for (const auto& s : script) {
            request = pty.readRequest(2000);
            pty.write(s[0]);
        }
        const Bytes echoed = pty.readRequest(2000);
        Bytes both = echoed;
        both.insert(both.end(), good.begin(), good.end());
        pty.write(both);
    });
    std::int16_t value[2] = {};  // two registers: the reply is no shorter than an echo
    const int results[] = {
        master.readInputRegisters(1, 1, value, 2),
        master.readInputRegisters(1, 1, value, 2),
        master.readInputRegisters(1, 1, value, 2),
        master.readInputRegisters(1, 1, value, 2),
    };
    peer.join();
    EXPECT_EQ(results[0], MBR_SUCCESS);
    EXPECT_EQ(results[1], mbrException(2));
    EXPECT_EQ(results[2], MBR_REPLY_TIMEOUT);
    EXPECT_EQ(results[3], MBR_SUCCESS);

    std::vector<TrafficFrame> frames;
    ring.readSince(0, frames);
    const auto bytesOf = [](const TrafficFrame& f) {
        return Bytes(f.bytes.begin(), f.bytes.begin() + f.kept());
    };
    struct Expected {
        TrafficDirection direction;
        TrafficVerdict verdict;
        Bytes bytes;
    };
    using D = TrafficDirection;
    using V = TrafficVerdict;
    const Expected expected[] = {
        {D::tx, V::sent, request},        {D::rx, V::good, good},    {D::tx, V::sent, request},
        {D::rx, V::exception, exception}, {D::tx, V::sent, request}, {D::rx, V::badCrc, damaged},
        {D::tx, V::sent, request},        {D::rx, V::timeout, {}},   {D::tx, V::sent, request},
        {D::rx, V::echo, request},        {D::rx, V::good, good},
    };
    ASSERT_EQ(frames.size(), std::size(expected));
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].direction, expected[i].direction);
        EXPECT_EQ(frames[i].verdict, expected[i].verdict);
        EXPECT_EQ(bytesOf(frames[i]), expected[i].bytes);
        EXPECT_EQ(frames[i].slave, 1);
        EXPECT_EQ(frames[i].framing, TrafficFraming::rtu);
        if (frames[i].direction == D::rx) {
            EXPECT_GE(frames[i].delayUs, 0);
        }
    }
    // Off again: the next transaction leaves the ring as it was.
    master.setTrafficRing(nullptr);
    master.readInputRegisters(1, 1, value, 2);
    EXPECT_EQ(ring.lastSequence(), frames.size());
}

// A line that never goes quiet: the request is given up without being sent, and shown so,
// after the noise the master read waiting for quiet.
TEST(TrafficRing, RtuMasterShowsARequestItCouldNotSend) {
    PtyPair pty;
    MbusRtuMasterProtocol master;
    ASSERT_EQ(master.setReplyTimeout(100), MBR_SUCCESS);
    ASSERT_EQ(master.openConnection(pty.slavePath().c_str(), 9600), MBR_SUCCESS);  // 5 ms quiet
    TrafficRing ring(8);
    master.setTrafficRing(&ring);
    std::atomic<bool> stop{false};
    Peer noise([&] {
        while (!stop) {
            pty.write({0xAA});
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::int16_t value = 0;
    EXPECT_EQ(master.readHoldingRegisters(1, 1, &value, 1), MBR_SEND_TIMEOUT);
    stop = true;
    noise.join();
    std::vector<TrafficFrame> frames;
    ASSERT_EQ(ring.readSince(0, frames), 2u);
    EXPECT_EQ(frames[0].direction, TrafficDirection::rx);
    EXPECT_EQ(frames[0].verdict, TrafficVerdict::noise);
    ASSERT_GT(frames[0].kept(), 0);
    EXPECT_EQ(frames[0].bytes[0], 0xAA);
    EXPECT_EQ(frames[1].direction, TrafficDirection::tx);
    EXPECT_EQ(frames[1].verdict, TrafficVerdict::notSent);
    EXPECT_EQ(frames[1].result, MBR_SEND_TIMEOUT);
    EXPECT_EQ(Bytes(frames[1].bytes.begin(), frames[1].bytes.begin() + frames[1].kept()),
              withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
}

// The RTU master's verdict on each kind of reply, as fine as its bytes tell it: which of
// address and function was another, a reply cut short (also within its first five bytes, where
// only the port can say how much came) apart from one that never began, the exception's code.
TEST(TrafficRing, RtuMasterTellsEachKindOfFailedReplyApart) {
    PtyPair pty;
    MbusRtuMasterProtocol master;
    ASSERT_EQ(master.setReplyTimeout(100), MBR_SUCCESS);
    ASSERT_EQ(master.setRetryCount(0), MBR_SUCCESS);
    ASSERT_EQ(master.openConnection(pty.slavePath().c_str(), 115200), MBR_SUCCESS);
    TrafficRing ring(64);
    master.setTrafficRing(&ring);

    const Bytes good = withCrc({0x01, 0x04, 0x04, 0x12, 0x34, 0x56, 0x78});
    using V = TrafficVerdict;
    const struct Case {
        const char* name;
        Bytes reply;
        int result;
        V verdict;
        const char* lineEnd;  // of the reply's line, before its delay
    } cases[] = {
        {"good", good, MBR_SUCCESS, V::good, "good"},
        {"another slave", withCrc({0x02, 0x04, 0x04, 0x12, 0x34, 0x56, 0x78}), MBR_FRAME_MISMATCH,
         V::wrongSlave, "wrong-slave"},
        {"another function", withCrc({0x01, 0x03, 0x04, 0x12, 0x34, 0x56, 0x78}),
         MBR_FRAME_MISMATCH, V::wrongFunction, "wrong-function"},
        {"an exception", withCrc({0x01, 0x84, 0x03}), mbrException(3), V::exception, "exception 3"},
        {"cut after seven bytes", Bytes(good.begin(), good.begin() + 7), MBR_REPLY_TIMEOUT,
         V::truncated, "truncated"},
        {"cut after three bytes", Bytes(good.begin(), good.begin() + 3), MBR_REPLY_TIMEOUT,
         V::truncated, "truncated"},
        {"nothing", {}, MBR_REPLY_TIMEOUT, V::timeout, "- timeout"},
    };
    Peer peer([&] {
        for (const Case& c : cases) {
            pty.readRequest(2000);
            pty.write(c.reply);
        }
    });
    std::vector<int> results;
    std::int16_t value[2] = {};
    for (std::size_t i = 0; i < std::size(cases); ++i)
        results.push_back(master.readInputRegisters(1, 1, value, 2));
    peer.join();

    std::vector<TrafficFrame> frames;
    ring.readSince(0, frames);
    ASSERT_EQ(frames.size(), 2 * std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(results[i], c.result);  // what the caller gets is the coarse code, as before
        const TrafficFrame& reply = frames[2 * i + 1];
        EXPECT_EQ(reply.direction, TrafficDirection::rx);
        EXPECT_EQ(reply.verdict, c.verdict);
        EXPECT_EQ(reply.result, c.result);
        EXPECT_EQ(Bytes(reply.bytes.begin(), reply.bytes.begin() + reply.kept()), c.reply);
        const std::string line = formatTrafficLine(reply);
        EXPECT_NE(line.find(std::string(" ") + c.lineEnd + " ("), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace kvx
