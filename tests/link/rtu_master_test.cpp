#include "link/mbus_rtu_master_protocol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/result_codes.h"
#include "link/serial_port.h"
#include "tests/link/pty_peer.h"

namespace kvx {
namespace {

using test::Bytes;
using test::Clock;
using test::msSince;
using test::Peer;
using test::PtyPair;
using test::withCrc;

constexpr int kShortTimeoutMs = 60;

// Reaches the silence time, which only an open at some rate sets otherwise.
class TestableMaster : public MbusRtuMasterProtocol {
  public:
    void forceSilence(unsigned ms) { silenceMs = ms; }
};

class RtuMaster : public ::testing::Test {
  protected:
    void open(int baud = 9600) {
        ASSERT_EQ(master.openConnection(pty.slavePath().c_str(), baud), MBR_SUCCESS);
    }
    void SetUp() override { ASSERT_EQ(master.setReplyTimeout(kShortTimeoutMs), MBR_SUCCESS); }
    // The peer answers each of `requests` requests with reply(request, index).
    void answer(int requests, std::function<Bytes(const Bytes&, int)> reply) {
        peer = std::make_unique<Peer>([this, requests, reply] {
            for (int i = 0; i < requests; ++i) {
                Bytes request = pty.readRequest(2000);
                if (request.empty()) return;
                received.push_back(request);
                const Bytes bytes = reply(request, i);
                if (!bytes.empty()) pty.write(bytes);
            }
        });
    }
    void finish() {
        if (peer) peer->join();
    }
    // Nothing at all reached the peer.
    void expectSilentLine() { EXPECT_TRUE(pty.readAvailable(30).empty()); }

    PtyPair pty;
    TestableMaster master;
    std::unique_ptr<Peer> peer;
    std::vector<Bytes> received;
};

// Register values for replies: the pattern for register i, including both signs.
std::uint16_t pattern(int i) {
    return static_cast<std::uint16_t>(0xFFFF - i * 0x0731);
}

Bytes readReply(int slave, int function, int count) {
    Bytes reply{static_cast<std::uint8_t>(slave), static_cast<std::uint8_t>(function),
                static_cast<std::uint8_t>(2 * count)};
    for (int i = 0; i < count; ++i) {
        reply.push_back(static_cast<std::uint8_t>(pattern(i) >> 8));
        reply.push_back(static_cast<std::uint8_t>(pattern(i) & 0xFF));
    }
    return withCrc(reply);
}

Bytes echo(const Bytes& request) {
    return request;
}

Bytes echoHead(const Bytes& request) {
    return withCrc(Bytes(request.begin(), request.begin() + 6));
}

TEST_F(RtuMaster, WorkedFramesByteForByte) {
    open();
    answer(4, [](const Bytes& request, int i) {
        if (i == 0) return readReply(1, 4, 40);
        if (i == 1) return echo(request);
        if (i == 2) return echoHead(request);
        return readReply(1, 3, 1);
    });
    std::int16_t values[40] = {};
    EXPECT_EQ(master.readInputRegisters(1, 201, values, 40), MBR_SUCCESS);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(values[i], static_cast<std::int16_t>(pattern(i))) << i;
    }
    EXPECT_EQ(values[0], -1);  // 0xFFFF is the pattern of -1

    EXPECT_EQ(master.writeSingleRegister(1, 1, 0x1234), MBR_SUCCESS);
    const std::int16_t pair[] = {1, 2};
    EXPECT_EQ(master.writeMultipleRegisters(1, 10, pair, 2), MBR_SUCCESS);
    EXPECT_EQ(master.readHoldingRegisters(1, 65536, values, 1), MBR_SUCCESS);
    finish();

    ASSERT_EQ(received.size(), 4U);
    EXPECT_EQ(received[0], withCrc({0x01, 0x04, 0x00, 0xC8, 0x00, 0x28}));
    EXPECT_EQ(received[1], withCrc({0x01, 0x06, 0x00, 0x00, 0x12, 0x34}));
    EXPECT_EQ(received[2],
              withCrc({0x01, 0x10, 0x00, 0x09, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x02}));
    EXPECT_EQ(received[3], withCrc({0x01, 0x03, 0xFF, 0xFF, 0x00, 0x01}));
}

TEST_F(RtuMaster, NegativeValuesTravelAsTheirBitPattern) {
    open();
    answer(2,
           [](const Bytes& request, int i) { return i == 0 ? echo(request) : echoHead(request); });
    EXPECT_EQ(master.writeSingleRegister(7, 100, -2), MBR_SUCCESS);
    const std::int16_t values[] = {-32768, 32767, -1};
    EXPECT_EQ(master.writeMultipleRegisters(7, 1, values, 3), MBR_SUCCESS);
    finish();
    ASSERT_EQ(received.size(), 2U);
    EXPECT_EQ(received[0], withCrc({0x07, 0x06, 0x00, 0x63, 0xFF, 0xFE}));
    EXPECT_EQ(received[1], withCrc({0x07, 0x10, 0x00, 0x00, 0x00, 0x03, 0x06, 0x80, 0x00, 0x7F,
                                    0xFF, 0xFF, 0xFF}));
}

TEST_F(RtuMaster, ExceptionReplyIsReturnedAndNotRetried) {
    ASSERT_EQ(master.setRetryCount(3), MBR_SUCCESS);
    open();
    answer(1, [](const Bytes&, int) { return withCrc({0x01, 0x83, 0x02}); });
    std::int16_t values[3] = {5, 5, 5};
    EXPECT_EQ(master.readHoldingRegisters(1, 300, values, 3), 162);
    EXPECT_EQ(values[0] | values[1] | values[2], 0);
    finish();
    EXPECT_EQ(received.size(), 1U);
    // A retry would already be on the line: the call has returned.
    expectSilentLine();
}

Bytes first(const Bytes& bytes, std::size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(count));
}

TEST_F(RtuMaster, RetryableFaultsAreRetriedRetryCountTimes) {
    ASSERT_EQ(master.setRetryCount(2), MBR_SUCCESS);
    open();
    struct Case {
        const char* what;
        Bytes reply;
        int result;
    };
    Bytes badCrc = readReply(1, 3, 2);
    badCrc.back() ^= 0x40;
    const Case cases[] = {
        {"bad CRC", badCrc, MBR_CRC_MISMATCH},
        {"other slave", readReply(2, 3, 2), MBR_FRAME_MISMATCH},
        {"other function", readReply(1, 4, 2), MBR_FRAME_MISMATCH},
        {"no reply", Bytes{}, MBR_REPLY_TIMEOUT},
        {"stops after 4 bytes", first(readReply(1, 3, 2), 4), MBR_REPLY_TIMEOUT},
        {"stops after 8 of 9 bytes", first(readReply(1, 3, 2), 8), MBR_REPLY_TIMEOUT},
    };
    for (const Case& c : cases) {
        received.clear();
        answer(3, [&c](const Bytes&, int) { return c.reply; });
        std::int16_t values[2] = {9, 9};
        const auto start = Clock::now();
        EXPECT_EQ(master.readHoldingRegisters(1, 1, values, 2), c.result) << c.what;
        finish();
        EXPECT_EQ(received.size(), 3U) << c.what;
        EXPECT_EQ(values[0] | values[1], 0) << c.what;
        if (c.result == MBR_REPLY_TIMEOUT) {
            EXPECT_GE(msSince(start), 3 * kShortTimeoutMs);
        }
    }

    // A good answer on the last attempt is a success.
    received.clear();
    answer(3, [&badCrc](const Bytes&, int i) { return i < 2 ? badCrc : readReply(1, 3, 2); });
    std::int16_t values[2] = {};
    EXPECT_EQ(master.readHoldingRegisters(1, 1, values, 2), MBR_SUCCESS);
    finish();
    EXPECT_EQ(received.size(), 3U);
    EXPECT_EQ(values[1], static_cast<std::int16_t>(pattern(1)));
}

TEST_F(RtuMaster, MismatchedAnswersAreNotRetried) {
    ASSERT_EQ(master.setRetryCount(2), MBR_SUCCESS);
    open();
    struct Case {
        const char* what;
        std::function<int()> call;
        Bytes reply;
        int result;
    };
    std::int16_t values[3] = {4, 4, 4};
    Bytes shortCount = readReply(1, 3, 3);
    shortCount[2] = 5;
    shortCount = withCrc(first(shortCount, shortCount.size() - 2));
    const std::int16_t pair[] = {1, 2};
    const Case cases[] = {
        {"byte count one short", [&] { return master.readHoldingRegisters(1, 1, values, 3); },
         shortCount, MBR_REPLY_MISMATCH},
        {"echo 2 for 7", [&] { return master.writeSingleRegister(1, 50, 7); },
         withCrc({0x01, 0x06, 0x00, 0x31, 0x00, 0x02}), MBR_SUCCESS},
        {"echo 3 for 7", [&] { return master.writeSingleRegister(1, 50, 7); },
         withCrc({0x01, 0x06, 0x00, 0x31, 0x00, 0x03}), MBR_REPLY_MISMATCH},
        {"echo 0x0107 for 7", [&] { return master.writeSingleRegister(1, 50, 7); },
         withCrc({0x01, 0x06, 0x00, 0x31, 0x01, 0x07}), MBR_REPLY_MISMATCH},
        {"echoed address is not judged", [&] { return master.writeSingleRegister(1, 50, 7); },
         withCrc({0x01, 0x06, 0x12, 0x34, 0x00, 0x07}), MBR_SUCCESS},
        {"quantity 3 for 2", [&] { return master.writeMultipleRegisters(1, 10, pair, 2); },
         withCrc({0x01, 0x10, 0x00, 0x09, 0x00, 0x03}), MBR_REPLY_MISMATCH},
        {"quantity 0x0102 for 2", [&] { return master.writeMultipleRegisters(1, 10, pair, 2); },
         withCrc({0x01, 0x10, 0x00, 0x09, 0x01, 0x02}), MBR_REPLY_MISMATCH},
        {"exception 4", [&] { return master.writeMultipleRegisters(1, 10, pair, 2); },
         withCrc({0x01, 0x90, 0x04}), 164},
    };
    for (const Case& c : cases) {
        received.clear();
        answer(1, [&c](const Bytes&, int) { return c.reply; });
        EXPECT_EQ(c.call(), c.result) << c.what;
        finish();
        EXPECT_TRUE(pty.readAvailable(2 * kShortTimeoutMs).empty()) << c.what << ": retried";
        EXPECT_EQ(received.size(), 1U) << c.what;
    }
    EXPECT_EQ(values[0] | values[1] | values[2], 0);
}

TEST_F(RtuMaster, SurplusOfALongReplyIsDiscardedByTheNextAttempt) {
    open();
    answer(2, [](const Bytes&, int i) {
        Bytes reply = readReply(1, 3, 2);
        if (i == 0) {
            // What follows looks like the start of another reply.
            const Bytes tail = readReply(1, 3, 2);
            reply.insert(reply.end(), tail.begin(), tail.end() - 3);
        }
        return reply;
    });
    std::int16_t values[2] = {};
    EXPECT_EQ(master.readHoldingRegisters(1, 1, values, 2), MBR_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::int16_t again[2] = {};
    EXPECT_EQ(master.readHoldingRegisters(1, 1, again, 2), MBR_SUCCESS);
    finish();
    EXPECT_EQ(again[0], static_cast<std::int16_t>(pattern(0)));
    EXPECT_EQ(again[1], static_cast<std::int16_t>(pattern(1)));
}

TEST_F(RtuMaster, BroadcastIsSentAndNothingIsAwaited) {
    ASSERT_EQ(master.setReplyTimeout(3000), MBR_SUCCESS);
    open();
    answer(2, [](const Bytes&, int) { return Bytes{}; });
    const std::int16_t pair[] = {1, 2};
    const auto start = Clock::now();
    EXPECT_EQ(master.writeSingleRegister(0, 7, 0x1234), MBR_SUCCESS);
    EXPECT_EQ(master.writeMultipleRegisters(0, 10, pair, 2), MBR_SUCCESS);
    EXPECT_LT(msSince(start), 2500);  // neither waited out the 3 s reply time-out
    finish();
    ASSERT_EQ(received.size(), 2U);
    EXPECT_EQ(received[0], withCrc({0x00, 0x06, 0x00, 0x06, 0x12, 0x34}));
    EXPECT_EQ(received[1][0], 0x00);
}

TEST_F(RtuMaster, ArgumentsOutOfRangeSendNothing) {
    open();
    std::int16_t values[126];
    const std::int16_t source[101] = {};
    std::fill(std::begin(values), std::end(values), 3);
    EXPECT_EQ(master.readHoldingRegisters(0, 1, values, 5), MBR_BAD_ARGUMENT);
    EXPECT_EQ(values[0] | values[4], 0);  // cleared before the check
    EXPECT_EQ(values[5], 3);
    EXPECT_EQ(master.readHoldingRegisters(256, 1, values, 1), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.readHoldingRegisters(1, 0, values, 1), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.readHoldingRegisters(1, 65537, values, 1), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.readInputRegisters(1, 1, values, 126), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.readInputRegisters(1, 1, values, 0), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.readInputRegisters(1, 1, nullptr, 2), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.writeSingleRegister(-1, 1, 0), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.writeSingleRegister(256, 1, 0), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.writeSingleRegister(1, 0, 0), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.writeMultipleRegisters(1, 1, source, 101), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.writeMultipleRegisters(1, 1, source, 0), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.writeMultipleRegisters(1, 65537, source, 1), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.writeMultipleRegisters(1, 1, nullptr, 1), MBR_BAD_ARGUMENT);

    // The transaction itself refuses frames that cannot exist.
    std::uint8_t data[kRtuMaxFrame] = {};
    std::uint8_t reply[kRtuMaxFrame] = {};
    EXPECT_EQ(master.exchange(1, 16, data, kRtuMaxData + 1, reply, 4), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.exchange(1, 3, data, 4, reply, kRtuMaxData + 1), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.exchange(1, 3, data, -1, reply, 4), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.exchange(1, 3, data, 4, nullptr, 4), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.exchange(1, 0, data, 4, reply, 4), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.exchange(1, 0x83, data, 4, reply, 4), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.exchange(300, 3, data, 4, reply, 4), MBR_BAD_ARGUMENT);
    expectSilentLine();
}

TEST_F(RtuMaster, ClosedConnectionRefusesTransactions) {
    std::int16_t values[4] = {1, 1, 1, 1};
    EXPECT_EQ(master.readInputRegisters(1, 1, values, 4), MBR_WRONG_STATE);
    EXPECT_EQ(values[0] | values[3], 0);
    EXPECT_EQ(master.writeSingleRegister(1, 1, 1), MBR_WRONG_STATE);
    open();
    master.closeConnection();
    EXPECT_FALSE(master.isConnected());
    master.closeConnection();
    EXPECT_EQ(master.writeSingleRegister(1, 1, 1), MBR_WRONG_STATE);
    expectSilentLine();
}

TEST_F(RtuMaster, SettersCheckLimitsAndAreRefusedWhileOpen) {
    EXPECT_EQ(master.setReplyTimeout(0), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.setReplyTimeout(100001), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.setRetryCount(-1), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.setRetryCount(11), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.setRequestSpacing(-1), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.setRequestSpacing(100001), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.setRtsTurnaroundDelay(-1), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.setRtsTurnaroundDelay(100001), MBR_BAD_ARGUMENT);
    EXPECT_EQ(master.getReplyTimeout(), kShortTimeoutMs);
    EXPECT_EQ(master.setRetryCount(10), MBR_SUCCESS);
    EXPECT_EQ(master.setRequestSpacing(100000), MBR_SUCCESS);
    EXPECT_EQ(master.setRequestSpacing(0), MBR_SUCCESS);

    open();
    EXPECT_EQ(master.setReplyTimeout(3000), MBR_WRONG_STATE);
    EXPECT_EQ(master.setRetryCount(1), MBR_WRONG_STATE);
    EXPECT_EQ(master.setRequestSpacing(5), MBR_WRONG_STATE);
    EXPECT_EQ(master.setRtsTurnaroundDelay(5), MBR_WRONG_STATE);
    EXPECT_EQ(master.getReplyTimeout(), kShortTimeoutMs);
    EXPECT_EQ(master.getRetryCount(), 10);
    EXPECT_EQ(master.getRequestSpacing(), 0);
    EXPECT_EQ(master.getRtsTurnaroundDelay(), 0);

    master.closeConnection();
    EXPECT_EQ(master.setReplyTimeout(3000), MBR_SUCCESS);
    EXPECT_EQ(master.getReplyTimeout(), 3000);
}

TEST_F(RtuMaster, OpeningResults) {
    EXPECT_EQ(master.openConnection(pty.slavePath().c_str(), 9600, 7, 1, 0), MBR_BAD_ARGUMENT);
    EXPECT_FALSE(master.isConnected());
    EXPECT_EQ(master.openConnection("/dev/kvx-no-such-port", 9600), MBR_OPEN_FAILED);
    EXPECT_EQ(master.openConnection(nullptr, 9600), MBR_OPEN_FAILED);
    EXPECT_EQ(master.openConnection(pty.slavePath().c_str(), 0), MBR_BAD_ARGUMENT);
    EXPECT_FALSE(master.isConnected());

    SerialPort holder;
    ASSERT_EQ(holder.open(pty.slavePath().c_str()), SP_OK);
    EXPECT_EQ(master.openConnection(pty.slavePath().c_str(), 9600), MBR_PORT_BUSY);
    EXPECT_FALSE(master.isConnected());
    holder.close();

    open(57600);
    EXPECT_EQ(master.getSilenceMs(), 1U);
    // A second open is refused and the running connection keeps its silence.
    EXPECT_EQ(master.openConnection(pty.slavePath().c_str(), 1200), MBR_WRONG_STATE);
    EXPECT_EQ(master.getSilenceMs(), 1U);
    EXPECT_TRUE(master.isConnected());
    master.closeConnection();

    open(9600);
    EXPECT_EQ(master.getSilenceMs(), 5U);
    master.closeConnection();

    // A rate the device refuses fails after the device was opened and leaves it open.
    EXPECT_EQ(master.openConnection(pty.slavePath().c_str(), 12345), MBR_BAD_ARGUMENT);
    EXPECT_TRUE(master.isConnected());
    master.closeConnection();
    EXPECT_EQ(master.openConnection(pty.slavePath().c_str(), 19200, 8, 2, 2), MBR_SUCCESS);
    EXPECT_EQ(master.getSilenceMs(), 3U);
}

// At 300 baud the silence is 147 ms, far above any scheduling delay of the noise thread.
constexpr int kSlowBaud = 300;

TEST_F(RtuMaster, SilenceWaitLastsWhileBytesKeepArriving) {
    ASSERT_EQ(master.setReplyTimeout(3000), MBR_SUCCESS);
    open(kSlowBaud);
    ASSERT_EQ(master.getSilenceMs(), 147U);
    std::atomic<bool> early{false};
    Clock::time_point noiseEnd;
    Clock::time_point requestSeen;
    Peer noise([&] {
        const auto start = Clock::now();
        while (msSince(start) < 400) {
            pty.write({0x55});
            if (!pty.readExact(1, 0).empty()) early = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        noiseEnd = Clock::now();
        const Bytes request = pty.readRequest(3000);
        requestSeen = Clock::now();
        if (request.size() == 8) pty.write(readReply(1, 3, 1));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::int16_t value = 0;
    EXPECT_EQ(master.readHoldingRegisters(1, 1, &value, 1), MBR_SUCCESS);
    noise.join();
    EXPECT_FALSE(early.load());
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(requestSeen - noiseEnd).count(),
              147 - 10);
    EXPECT_EQ(value, static_cast<std::int16_t>(pattern(0)));
}

TEST_F(RtuMaster, SilenceWaitGivesUpAtTheReplyTimeOutWithoutSending) {
    ASSERT_EQ(master.setReplyTimeout(300), MBR_SUCCESS);
    open(kSlowBaud);
    std::atomic<bool> stop{false};
    std::atomic<bool> requestSeen{false};
    Peer noise([&] {
        while (!stop) {
            pty.write({0xAA});
            if (!pty.readExact(1, 0).empty()) requestSeen = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::int16_t value = 1;
    const auto start = Clock::now();
    EXPECT_EQ(master.readHoldingRegisters(1, 1, &value, 1), MBR_SEND_TIMEOUT);
    EXPECT_GE(msSince(start), 300);
    stop = true;
    noise.join();
    EXPECT_FALSE(requestSeen.load());
    EXPECT_EQ(value, 0);
    expectSilentLine();

    // Once the line is quiet the next request goes out as usual.
    answer(1, [](const Bytes&, int) { return readReply(1, 3, 1); });
    EXPECT_EQ(master.readHoldingRegisters(1, 1, &value, 1), MBR_SUCCESS);
    finish();
}

TEST_F(RtuMaster, RefusedTimeOutEndsTheSilenceWaitAsAChannelFailure) {
    open();
    master.forceSilence(0x80000000U);  // beyond what the port accepts as a time-out
    std::int16_t value = 0;
    EXPECT_EQ(master.readHoldingRegisters(1, 1, &value, 1), MBR_IO_FAILURE);
    expectSilentLine();
}

TEST_F(RtuMaster, RequestSpacingHoldsBackTheNextRequest) {
    ASSERT_EQ(master.setRequestSpacing(150), MBR_SUCCESS);
    open();
    answer(2, [](const Bytes&, int) { return readReply(1, 3, 1); });
    std::int16_t value = 0;
    const auto start = Clock::now();
    EXPECT_EQ(master.readHoldingRegisters(1, 1, &value, 1), MBR_SUCCESS);
    EXPECT_EQ(master.readHoldingRegisters(1, 1, &value, 1), MBR_SUCCESS);
    EXPECT_GE(msSince(start), 150);
    finish();
}

TEST_F(RtuMaster, RtsTurnaroundDelaysTheReplyReadButNotTheResult) {
    ASSERT_EQ(master.setRtsTurnaroundDelay(40), MBR_SUCCESS);
    open();  // a pseudo-terminal refuses RTS; the transaction ignores that
    answer(1, [](const Bytes&, int) { return readReply(1, 3, 1); });
    std::int16_t value = 0;
    const auto start = Clock::now();
    EXPECT_EQ(master.readHoldingRegisters(1, 1, &value, 1), MBR_SUCCESS);
    EXPECT_GE(msSince(start), 40);
    finish();
}

TEST_F(RtuMaster, DeadLineIsASendTimeOut) {
    open();
    pty.closeMaster();
    std::int16_t value = 0;
    EXPECT_EQ(master.readHoldingRegisters(1, 1, &value, 1), MBR_SEND_TIMEOUT);
    EXPECT_EQ(master.writeSingleRegister(0, 1, 1), MBR_SEND_TIMEOUT);
    EXPECT_TRUE(master.isConnected());
}

}  // namespace
}  // namespace kvx
