#include "link/rtu_frame.h"

#include <gtest/gtest.h>

#include <random>

#include "link/result_codes.h"
#include "tests/link/pty_peer.h"

namespace kvx {
namespace {

using test::Bytes;
using test::withCrc;

TEST(RtuFrame, BuildsAddressFunctionDataAndCrc) {
    std::uint8_t frame[kRtuMaxFrame] = {};
    const std::uint8_t data[] = {0x00, 0x00, 0x12, 0x34};
    ASSERT_EQ(buildRtuFrame(frame, kRtuMaxFrame, 1, 6, data, 4), 8);
    EXPECT_EQ(Bytes(frame, frame + 8), withCrc({0x01, 0x06, 0x00, 0x00, 0x12, 0x34}));

    const std::uint8_t read[] = {0x00, 0x00, 0x00, 0x0A};
    ASSERT_EQ(buildRtuFrame(frame, kRtuMaxFrame, 1, 3, read, 4), 8);
    EXPECT_EQ(Bytes(frame, frame + 8), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));

    EXPECT_EQ(buildRtuFrame(frame, kRtuMaxFrame, 0, 7, nullptr, 0), 4);
}

TEST(RtuFrame, BuildRefusesWhatWouldNotFit) {
    std::uint8_t frame[kRtuMaxFrame] = {};
    std::uint8_t data[kRtuMaxFrame] = {};
    EXPECT_EQ(buildRtuFrame(frame, kRtuMaxFrame, 1, 16, data, kRtuMaxData), kRtuMaxFrame);
    EXPECT_EQ(buildRtuFrame(frame, kRtuMaxFrame, 1, 16, data, kRtuMaxData + 1), 0);
    EXPECT_EQ(buildRtuFrame(frame, 10, 1, 16, data, 7), 0);
    EXPECT_EQ(buildRtuFrame(frame, kRtuMaxFrame, 1, 16, data, -1), 0);
    EXPECT_EQ(buildRtuFrame(frame, kRtuMaxFrame, 1, 16, nullptr, 2), 0);
    EXPECT_EQ(buildRtuFrame(frame, kRtuMaxFrame, 256, 3, data, 4), 0);
    EXPECT_EQ(buildRtuFrame(frame, kRtuMaxFrame, -1, 3, data, 4), 0);
    EXPECT_EQ(buildRtuFrame(nullptr, kRtuMaxFrame, 1, 3, data, 4), 0);
}

int judge(const Bytes& frame, int slave, int function, int replyLength) {
    return checkRtuReply(frame.data(), static_cast<int>(frame.size()), slave, function,
                         replyLength);
}

TEST(RtuFrame, JudgesRepliesInOrderLengthCrcFrameException) {
    const Bytes good = withCrc({0x01, 0x03, 0x02, 0x12, 0x34});
    EXPECT_EQ(judge(good, 1, 3, 3), MBR_SUCCESS);
    // Surplus after the reply is not part of it.
    Bytes longer = good;
    longer.insert(longer.end(), {0xDE, 0xAD});
    EXPECT_EQ(judge(longer, 1, 3, 3), MBR_SUCCESS);

    EXPECT_EQ(judge(Bytes(good.begin(), good.begin() + 4), 1, 3, 3), MBR_REPLY_TIMEOUT);
    EXPECT_EQ(judge(good, 1, 3, 5), MBR_REPLY_TIMEOUT);

    Bytes corrupted = good;
    corrupted[3] ^= 0x01;
    EXPECT_EQ(judge(corrupted, 1, 3, 3), MBR_CRC_MISMATCH);
    // The CRC is judged before the address: a garbled address is a CRC fault.
    corrupted = good;
    corrupted[0] = 0x02;
    EXPECT_EQ(judge(corrupted, 1, 3, 3), MBR_CRC_MISMATCH);

    EXPECT_EQ(judge(withCrc({0x02, 0x03, 0x02, 0x12, 0x34}), 1, 3, 3), MBR_FRAME_MISMATCH);
    EXPECT_EQ(judge(withCrc({0x01, 0x04, 0x02, 0x12, 0x34}), 1, 3, 3), MBR_FRAME_MISMATCH);
    // An exception for another function or from another slave is not ours either.
    EXPECT_EQ(judge(withCrc({0x01, 0x84, 0x02}), 1, 3, 3), MBR_FRAME_MISMATCH);
    EXPECT_EQ(judge(withCrc({0x07, 0x83, 0x02}), 1, 3, 3), MBR_FRAME_MISMATCH);

    EXPECT_EQ(judge(withCrc({0x01, 0x83, 0x02}), 1, 3, 85), 162);
    EXPECT_EQ(judge(withCrc({0x01, 0x90, 0x04}), 1, 16, 4), 164);
    EXPECT_EQ(judge(withCrc({0x01, 0x86, 0x0B}), 1, 6, 4), MBR_EXCEPTION | 0x0B);
}

TEST(RtuFrame, ReplyLengthFollowsTheExceptionBit) {
    const std::uint8_t normal[] = {1, 0x04};
    const std::uint8_t exception[] = {1, 0x84};
    EXPECT_EQ(rtuReplyFrameLength(normal, 81), 85);
    EXPECT_EQ(rtuReplyFrameLength(exception, 81), 5);
    EXPECT_EQ(rtuReplyFrameLength(normal, 1), 5);
    EXPECT_EQ(rtuReplyFrameLength(normal, 0), 5);
}

TEST(RtuFrame, GarbageIsNeverTakenForAGoodReply) {
    std::mt19937 random(12345);
    std::uint8_t frame[kRtuMaxFrame];
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        const int length = static_cast<int>(random() % kRtuMaxFrame) + 1;
        for (int i = 0; i < length; ++i)
            frame[i] = static_cast<std::uint8_t>(random());
        const int result = checkRtuReply(frame, length, 1, 3, 7);
        if (result == MBR_SUCCESS) ++accepted;
        EXPECT_TRUE(result == MBR_SUCCESS || result == MBR_REPLY_TIMEOUT ||
                    result == MBR_CRC_MISMATCH || result == MBR_FRAME_MISMATCH ||
                    (result & ~0xFF) == 0)
            << result;
    }
    EXPECT_EQ(accepted, 0);
}

TEST(RtuFrame, SilenceIsFourCharactersRoundedUp) {
    EXPECT_EQ(rtuSilenceMs(1200), 37U);
    EXPECT_EQ(rtuSilenceMs(2400), 19U);
    EXPECT_EQ(rtuSilenceMs(4800), 10U);
    EXPECT_EQ(rtuSilenceMs(9600), 5U);
    EXPECT_EQ(rtuSilenceMs(19200), 3U);
    EXPECT_EQ(rtuSilenceMs(38400), 2U);
    EXPECT_EQ(rtuSilenceMs(44000), 2U);  // 1.5 rounds to even
    EXPECT_EQ(rtuSilenceMs(44001), 1U);
    EXPECT_EQ(rtuSilenceMs(57600), 1U);
    EXPECT_EQ(rtuSilenceMs(4000000), 1U);
    EXPECT_EQ(rtuSilenceMs(1), 44000U);
    EXPECT_EQ(rtuSilenceMs(0), 0U);
    EXPECT_EQ(rtuSilenceMs(-9600), 0U);
}

}  // namespace
}  // namespace kvx
