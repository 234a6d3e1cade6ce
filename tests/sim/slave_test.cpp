#include "sim/modbus_slave.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/crc16.h"
#include "sim/fault_injector.h"
#include "sim/request_framer.h"
#include "tests/sim/sim_frame.h"

namespace kvx::sim {
namespace {

using test::Bytes;
using test::frame;

struct SlaveFixture : ::testing::Test {
    ControllerEngine engine;
    ModbusSlave slave{engine};
    Bytes reply;

    SlaveOutcome send(const Bytes& f) { return slave.handle(f.data(), f.size(), 1000, reply); }
    // The exception code of the reply, 0 for a normal reply.
    int exceptionOf(const Bytes& f) {
        EXPECT_EQ(send(f), SlaveOutcome::replied);
        EXPECT_TRUE(crc16Matches(reply.data(), reply.size()));
        if (reply.size() == 5 && (reply[1] & 0x80)) return reply[2];
        return 0;
    }
};

TEST_F(SlaveFixture, ReadsAnswerWithTheRegisters) {
    ASSERT_EQ(exceptionOf(frame({1, 3, 0, 0, 0, 4})), 0);
    ASSERT_EQ(reply.size(), 5u + 8u);
    EXPECT_EQ(reply[2], 8);
    EXPECT_EQ(reply[4], 3);                                   // product type
    EXPECT_EQ(reply[6], 117);                                 // version
    EXPECT_EQ(reply[10], 1);                                  // modbus_address
    ASSERT_EQ(exceptionOf(frame({1, 4, 0, 200, 0, 40})), 0);  // event history
    EXPECT_EQ(reply.size(), 85u);
}

TEST_F(SlaveFixture, ExceptionsForFunctionAddressAndCount) {
    EXPECT_EQ(exceptionOf(frame({1, 1, 0, 0, 0, 1})), 1);     // read coils
    EXPECT_EQ(exceptionOf(frame({1, 0x2B, 0x0E, 1, 0})), 1);  // unknown length, framed by gap
    EXPECT_EQ(exceptionOf(frame({1, 3, 0, 177, 0, 1})), 2);   // reference 178
    EXPECT_EQ(exceptionOf(frame({1, 3, 0, 170, 0, 10})), 2);  // runs past 177
    EXPECT_EQ(exceptionOf(frame({1, 4, 0, 117, 0, 1})), 2);   // input 118
    EXPECT_EQ(exceptionOf(frame({1, 4, 0xFF, 0xFF, 0, 2})), 2);
    EXPECT_EQ(exceptionOf(frame({1, 6, 0, 200, 0, 1})), 2);
    EXPECT_EQ(exceptionOf(frame({1, 3, 0, 0, 0, 0})), 3);
    EXPECT_EQ(exceptionOf(frame({1, 3, 0, 0, 0, 126})), 3);
    EXPECT_EQ(exceptionOf(frame({1, 4, 0, 0, 0, 125})), 2);  // count fine, map too short
    EXPECT_EQ(exceptionOf(frame({1, 16, 0, 40, 0, 1, 4, 0, 1, 0, 2})), 3);  // byte count
    EXPECT_EQ(exceptionOf(frame({1, 16, 0, 40, 0, 0, 0})), 3);
    EXPECT_EQ(reply[1], 0x90);
}

TEST_F(SlaveFixture, WritesEchoAndApply) {
    const Bytes single = frame({1, 6, 0, 6, 0x12, 0x34});  // save command
    ASSERT_EQ(exceptionOf(single), 0);
    EXPECT_EQ(reply, single);
    EXPECT_EQ(engine.saveCount(), 1);
    ASSERT_EQ(exceptionOf(frame({1, 16, 0, 9, 0, 2, 4, 0, 1, 0, 2})), 0);
    EXPECT_EQ(reply, frame({1, 16, 0, 9, 0, 2}));
    EXPECT_EQ(engine.holding(10), 1);
    EXPECT_EQ(engine.holding(11), 2);
    // Moving the address: the reply still comes from the old one, then only the new answers.
    ASSERT_EQ(exceptionOf(frame({1, 6, 0, 3, 0, 5})), 0);
    EXPECT_EQ(reply[0], 1);
    EXPECT_EQ(send(frame({1, 3, 0, 0, 0, 1})), SlaveOutcome::otherAddress);
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(exceptionOf(frame({5, 3, 0, 0, 0, 1})), 0);
}

TEST_F(SlaveFixture, IgnoresOtherAddressesBadFramesAndAnswersNoBroadcast) {
    EXPECT_EQ(send(frame({2, 3, 0, 0, 0, 1})), SlaveOutcome::otherAddress);
    Bytes damaged = frame({1, 3, 0, 0, 0, 1});
    damaged[3] ^= 1;
    EXPECT_EQ(send(damaged), SlaveOutcome::badCrc);
    EXPECT_EQ(send({1, 3}), SlaveOutcome::badCrc);
    EXPECT_TRUE(reply.empty());

    EXPECT_EQ(send(frame({0, 6, 0, 6, 0x12, 0x34})), SlaveOutcome::broadcast);
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(engine.saveCount(), 1);
    EXPECT_EQ(send(frame({0, 16, 0, 40, 0, 1, 2, 0, 9})), SlaveOutcome::broadcast);
    EXPECT_EQ(engine.holding(41), 9);
    EXPECT_EQ(send(frame({0, 3, 0, 0, 0, 1})), SlaveOutcome::broadcast);  // read: not answered
    EXPECT_EQ(send(frame({0, 6, 0, 200, 0, 1})), SlaveOutcome::broadcast);
    EXPECT_TRUE(reply.empty());
}

TEST(RequestFramer, CutsByFunctionLength) {
    RequestFramer f(20000, 50000);
    const Bytes a = frame({1, 3, 0, 0, 0, 4});
    const Bytes b = frame({1, 16, 0, 9, 0, 2, 4, 0, 1, 0, 2});
    Bytes both = a;
    both.insert(both.end(), b.begin(), b.end());
    f.feed(both.data(), 5, 100);  // a frame split over two chunks, the second one joined to b
    ReceivedFrame out;
    EXPECT_FALSE(f.take(100, out));
    f.feed(both.data() + 5, both.size() - 5, 200);
    ASSERT_TRUE(f.take(200, out));
    EXPECT_EQ(out.bytes, a);
    EXPECT_EQ(out.firstUs, 100);
    ASSERT_TRUE(f.take(200, out));
    EXPECT_EQ(out.bytes, b);
    EXPECT_FALSE(f.take(200, out));
}

TEST(RequestFramer, TheLongestFrameOfEachCountedFunctionComesWholeAndWithinTheBound) {
    // A byte count of 255, beyond what Modbus allows but possible on a line, sets the length.
    struct Case {
        std::uint8_t function;
        std::size_t countAt;  // where the byte count sits
        std::size_t length;
    };
    for (const Case c : {Case{15, 6, 264}, Case{16, 6, 264}, Case{23, 10, 268}}) {
        SCOPED_TRACE("function " + std::to_string(c.function));
        Bytes bytes(c.length, 0x5A);
        bytes[0] = 1;
        bytes[1] = c.function;
        bytes[c.countAt] = 255;
        RequestFramer f(20000, 50000);
        f.feed(bytes.data(), bytes.size(), 0);
        ReceivedFrame out;
        ASSERT_TRUE(f.take(0, out));
        EXPECT_EQ(out.bytes, bytes);
        EXPECT_LE(out.bytes.size(), kMaxRequestBytes);
    }
}

TEST(RequestFramer, DropsAStalledFrameAndEndsUnknownOnesByGap) {
    RequestFramer f(20000, 50000);
    const Bytes a = frame({1, 3, 0, 0, 0, 4});
    f.feed(a.data(), 4, 0);
    ReceivedFrame out;
    EXPECT_EQ(f.deadlineUs(), 50000);
    EXPECT_FALSE(f.take(49999, out));
    EXPECT_FALSE(f.take(50000, out));
    EXPECT_EQ(f.partialDrops(), 1);
    EXPECT_EQ(f.buffered(), 0u);

    const Bytes unknown = frame({1, 0x41, 9, 9});
    f.feed(unknown.data(), unknown.size(), 100000);
    EXPECT_FALSE(f.take(110000, out));
    ASSERT_TRUE(f.take(120000, out));
    EXPECT_EQ(out.bytes, unknown);

    // After a damaged frame, bytes keep being dropped until the line has been quiet.
    f.resync(200000);
    f.feed(a.data(), a.size(), 210000);
    EXPECT_FALSE(f.take(210000, out));
    f.feed(a.data(), a.size(), 240000);
    ASSERT_TRUE(f.take(240000, out));
    EXPECT_EQ(out.bytes, a);
}

TEST(FaultInjector, EachKindChangesTheReplyAsItSays) {
    const Bytes good = frame({1, 3, 2, 0, 7});
    FaultInjector inj(3);
    auto applied = [&](FaultKind k, int* delay = nullptr) {
        Bytes r = good;
        const int d = inj.apply(k, r);
        if (delay) *delay = d;
        return r;
    };
    EXPECT_EQ(applied(FaultKind::none), good);
    EXPECT_TRUE(applied(FaultKind::noReply).empty());
    EXPECT_TRUE(applied(FaultKind::cablePulled).empty());
    Bytes r = applied(FaultKind::badCrc);
    EXPECT_EQ(r.size(), good.size());
    EXPECT_FALSE(crc16Matches(r.data(), r.size()));
    r = applied(FaultKind::wrongAddress);
    EXPECT_TRUE(crc16Matches(r.data(), r.size()));
    EXPECT_NE(r[0], 1);
    r = applied(FaultKind::wrongFunction);
    EXPECT_TRUE(crc16Matches(r.data(), r.size()));
    EXPECT_EQ(r.size(), good.size());
    EXPECT_NE(r[1], 3);
    EXPECT_EQ(r[1] & 0x80, 0);
    inj.settings().exceptionCode = 6;
    EXPECT_EQ(applied(FaultKind::exception), frame({1, 0x83, 6}));
    EXPECT_LT(applied(FaultKind::truncated).size(), good.size());
    r = applied(FaultKind::trailing);
    EXPECT_GT(r.size(), good.size());
    EXPECT_TRUE(std::equal(good.begin(), good.end(), r.begin()));
    r = applied(FaultKind::noise);
    EXPECT_GT(r.size(), good.size());
    EXPECT_TRUE(std::equal(good.rbegin(), good.rend(), r.rbegin()));
    int delay = 0;
    EXPECT_EQ(applied(FaultKind::late, &delay), good);
    EXPECT_EQ(delay, 3500);
}

TEST(FaultInjector, ScriptFirstThenRates) {
    FaultInjector inj(11);
    const FaultKind script[] = {FaultKind::badCrc, FaultKind::late};
    inj.script(script);
    inj.setRate(FaultKind::noReply, 0.25);
    EXPECT_EQ(inj.next(), FaultKind::badCrc);
    EXPECT_EQ(inj.next(), FaultKind::late);
    int noReplies = 0;
    for (int i = 0; i < 4000; ++i) {
        const FaultKind k = inj.next();
        EXPECT_TRUE(k == FaultKind::none || k == FaultKind::noReply);
        noReplies += k == FaultKind::noReply;
    }
    EXPECT_NEAR(noReplies, 1000, 150);
    EXPECT_EQ(inj.injected(), noReplies + 2);
    EXPECT_EQ(inj.injected(FaultKind::late), 1);
    inj.clear();
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(inj.next(), FaultKind::none);
}

// KIND:at=N puts the fault on the N-th request alone, counted from 1.
TEST(FaultInjector, AFaultAtARequestFallsOnThatOneOnly) {
    FaultInjector inj;
    inj.faultAt(3, FaultKind::noReply);
    inj.faultAt(5, FaultKind::badCrc);
    std::vector<FaultKind> got;
    for (long n = 1; n <= 6; ++n)
        got.push_back(inj.next(n));
    EXPECT_EQ(got, (std::vector<FaultKind>{FaultKind::none, FaultKind::none, FaultKind::noReply,
                                           FaultKind::none, FaultKind::badCrc, FaultKind::none}));
    EXPECT_EQ(inj.injected(), 2);
    FaultKind k;
    long at = 0;
    ASSERT_TRUE(parseFaultAtOption("no-reply:at=12", k, at));
    EXPECT_EQ(k, FaultKind::noReply);
    EXPECT_EQ(at, 12);
    for (const char* bad : {"no-reply", "no-reply:0.5", "no-reply:at=", "no-reply:at=0",
                            "no-reply:at=-1", "no-reply:at=x", "no-reply:at=3x", "gremlin:at=3",
                            "no-reply:at=99999999999999999999"})
        EXPECT_FALSE(parseFaultAtOption(bad, k, at)) << bad;
}

TEST(FaultInjector, ParsesKindAndRate) {
    FaultKind k;
    double rate = 0;
    ASSERT_TRUE(parseFaultOption("bad-crc", k, rate));
    EXPECT_EQ(k, FaultKind::badCrc);
    EXPECT_EQ(rate, 1.0);
    ASSERT_TRUE(parseFaultOption("cable-pulled:0.05", k, rate));
    EXPECT_EQ(k, FaultKind::cablePulled);
    EXPECT_DOUBLE_EQ(rate, 0.05);
    for (const char* bad : {"", "bad", "bad-crc:", "bad-crc:1.5", "bad-crc:-0.1", "late:x",
                            "late:0.5x", "none", "noise:nan"})
        EXPECT_FALSE(parseFaultOption(bad, k, rate)) << bad;
    for (const FaultName& n : faultNames()) {
        ASSERT_TRUE(parseFaultKind(n.name, k));
        EXPECT_EQ(faultName(k), n.name);
    }
}

}  // namespace
}  // namespace kvx::sim
