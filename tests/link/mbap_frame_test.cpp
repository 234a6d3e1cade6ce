#include "link/mbap_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/result_codes.h"

namespace kvx {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MbapFrame, BuildsRequestAndReplyHeaders) {
    std::uint8_t adu[kMbapMaxAdu] = {};
    const std::uint8_t read[] = {0x00, 0x10, 0x00, 0x02};
    ASSERT_EQ(buildMbapRequest(adu, kMbapMaxAdu, 0x1234, 7, 3, read, 4), 12);
    EXPECT_EQ(Bytes(adu, adu + 12),
              (Bytes{0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0x07, 0x03, 0x00, 0x10, 0x00, 0x02}));

    MbapHeader request;
    ASSERT_EQ(decodeMbapAdu(adu, 12, request), MbapStatus::Ok);
    EXPECT_EQ(request.transactionId, 0x1234);
    EXPECT_EQ(request.unitId, 7);
    EXPECT_EQ(request.pduLength(), 5);

    const std::uint8_t pdu[] = {0x03, 0x04, 0xAB, 0xCD, 0x00, 0x01};
    std::uint8_t reply[kMbapMaxAdu] = {};
    ASSERT_EQ(buildMbapReply(reply, kMbapMaxAdu, request, pdu, 6), 13);
    EXPECT_EQ(Bytes(reply, reply + 13), (Bytes{0x12, 0x34, 0x00, 0x00, 0x00, 0x07, 0x07, 0x03, 0x04,
                                               0xAB, 0xCD, 0x00, 0x01}));
    EXPECT_EQ(checkMbapReply(reply, 13, 0x1234, 7, 3, 5), MBR_SUCCESS);
}

TEST(MbapFrame, BuildRefusesWhatWouldNotFit) {
    std::uint8_t adu[kMbapMaxAdu] = {};
    std::uint8_t data[kMbapMaxAdu] = {};
    EXPECT_EQ(buildMbapRequest(adu, kMbapMaxAdu, 1, 1, 16, data, kMbapMaxPdu - 1), kMbapMaxAdu);
    EXPECT_EQ(buildMbapRequest(adu, kMbapMaxAdu, 1, 1, 16, data, kMbapMaxPdu), 0);
    EXPECT_EQ(buildMbapRequest(adu, 11, 1, 1, 3, data, 4), 0);
    EXPECT_EQ(buildMbapRequest(adu, kMbapMaxAdu, 1, 256, 3, data, 4), 0);
    EXPECT_EQ(buildMbapRequest(adu, kMbapMaxAdu, 1, 1, 3, nullptr, 4), 0);
    EXPECT_EQ(buildMbapRequest(adu, kMbapMaxAdu, 1, 1, 3, data, -1), 0);
    const MbapHeader request{1, 0, 6, 1};
    EXPECT_EQ(buildMbapReply(adu, kMbapMaxAdu, request, data, kMbapMaxPdu), kMbapMaxAdu);
    EXPECT_EQ(buildMbapReply(adu, kMbapMaxAdu, request, data, kMbapMaxPdu + 1), 0);
    EXPECT_EQ(buildMbapReply(adu, kMbapMaxAdu, request, data, 0), 0);
}

// Header bytes: transaction 0x0001, then protocol id and length as given, unit 1, function 3.
Bytes frame(unsigned protocolId, unsigned length, int bodyBytes) {
    Bytes b{0x00,
            0x01,
            static_cast<std::uint8_t>(protocolId >> 8),
            static_cast<std::uint8_t>(protocolId),
            static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length),
            0x01};
    for (int i = 0; i < bodyBytes; ++i)
        b.push_back(i == 0 ? 0x03 : 0x00);
    return b;
}

TEST(MbapFrame, DecodesAndValidatesHeaders) {
    struct Case {
        const char* what;
        Bytes bytes;
        MbapStatus header;  // decodeMbapHeader
        MbapStatus whole;   // decodeMbapAdu
    };
    const Case cases[] = {
        {"smallest frame", frame(0, 2, 1), MbapStatus::Ok, MbapStatus::Ok},
        {"largest frame", frame(0, 254, 253), MbapStatus::Ok, MbapStatus::Ok},
        {"short header", Bytes{0, 1, 0, 0, 0, 2}, MbapStatus::Incomplete, MbapStatus::Incomplete},
        {"header alone", frame(0, 6, 0), MbapStatus::Ok, MbapStatus::Incomplete},
        {"one byte short", frame(0, 6, 4), MbapStatus::Ok, MbapStatus::Incomplete},
        {"one byte over", frame(0, 6, 6), MbapStatus::Ok, MbapStatus::LengthDisagrees},
        {"length 0", frame(0, 0, 0), MbapStatus::LengthTooShort, MbapStatus::LengthTooShort},
        {"length 1", frame(0, 1, 0), MbapStatus::LengthTooShort, MbapStatus::LengthTooShort},
        {"length 255", frame(0, 255, 254), MbapStatus::LengthTooLong, MbapStatus::LengthTooLong},
        {"length 0xFFFF", frame(0, 0xFFFF, 1), MbapStatus::LengthTooLong,
         MbapStatus::LengthTooLong},
        {"protocol 1", frame(1, 6, 5), MbapStatus::BadProtocolId, MbapStatus::BadProtocolId},
        {"protocol 0x0100", frame(0x100, 6, 5), MbapStatus::BadProtocolId,
         MbapStatus::BadProtocolId},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MbapHeader header;
        const int n = static_cast<int>(c.bytes.size());
        EXPECT_EQ(decodeMbapHeader(c.bytes.data(), n, header), c.header);
        EXPECT_EQ(decodeMbapAdu(c.bytes.data(), n, header), c.whole);
        EXPECT_NE(std::string(mbapStatusText(c.whole)), "");
    }
    MbapHeader header;
    EXPECT_EQ(decodeMbapHeader(nullptr, 7, header), MbapStatus::Incomplete);
}

// A reply to "read 2 registers" (function 3, reply data 5 bytes) to unit 9, transaction 0x0102.
Bytes reply(Bytes pdu, std::uint16_t tid = 0x0102, int unit = 9, unsigned protocolId = 0,
            int lengthDelta = 0) {
    const unsigned length = static_cast<unsigned>(static_cast<int>(pdu.size()) + 1 + lengthDelta);
    Bytes b{static_cast<std::uint8_t>(tid >> 8),
            static_cast<std::uint8_t>(tid),
            static_cast<std::uint8_t>(protocolId >> 8),
            static_cast<std::uint8_t>(protocolId),
            static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length),
            static_cast<std::uint8_t>(unit)};
    for (std::uint8_t byte : pdu)
        b.push_back(byte);
    return b;
}

TEST(MbapFrame, JudgesRepliesAsTheLineWould) {
    const Bytes good{0x03, 0x04, 0x00, 0x01, 0x00, 0x02};
    struct Case {
        const char* what;
        Bytes bytes;
        int expected;
    };
    Bytes cut = reply(good);
    cut.pop_back();
    Bytes longer = reply(good);
    longer.push_back(0xEE);  // the next frame's first byte: not part of this one
    const Case cases[] = {
        {"good", reply(good), MBR_SUCCESS},
        {"followed by more", longer, MBR_SUCCESS},
        {"cut short", cut, MBR_REPLY_TIMEOUT},
        {"header only", Bytes(cut.begin(), cut.begin() + 7), MBR_REPLY_TIMEOUT},
        {"protocol id 1", reply(good, 0x0102, 9, 1), MBR_CRC_MISMATCH},
        {"length 0", reply(good, 0x0102, 9, 0, -7), MBR_CRC_MISMATCH},
        {"length 300", reply(good, 0x0102, 9, 0, 293), MBR_CRC_MISMATCH},
        {"older transaction", reply(good, 0x0101), MBR_FRAME_MISMATCH},
        {"other unit", reply(good, 0x0102, 10), MBR_FRAME_MISMATCH},
        {"other function", reply({0x04, 0x04, 0, 1, 0, 2}), MBR_FRAME_MISMATCH},
        {"exception 2", reply({0x83, 0x02}), mbrException(2)},
        {"gateway path unavailable", reply({0x83, 0x0A}), MBR_REPLY_TIMEOUT},
        {"gateway target no reply", reply({0x83, 0x0B}), MBR_REPLY_TIMEOUT},
        {"exception of 3 bytes", reply({0x83, 0x02, 0x00}), MBR_REPLY_MISMATCH},
        {"fewer registers", reply({0x03, 0x02, 0x00, 0x01}), MBR_REPLY_MISMATCH},
        {"more registers", reply({0x03, 0x06, 0, 1, 0, 2, 0, 3}), MBR_REPLY_MISMATCH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(checkMbapReply(c.bytes.data(), static_cast<int>(c.bytes.size()), 0x0102, 9, 3, 5),
                  c.expected);

        // The stream receive reads the header, then only the length it announces.
        std::size_t used = 0;
        const MbapByteReader fromBytes = [&](std::uint8_t* buffer, int count) {
            if (c.bytes.size() - used < static_cast<std::size_t>(count)) return MBR_REPLY_TIMEOUT;
            std::memcpy(buffer, c.bytes.data() + used, static_cast<std::size_t>(count));
            used += static_cast<std::size_t>(count);
            return MBR_SUCCESS;
        };
        std::uint8_t adu[kMbapMaxAdu] = {};
        int received = 0;
        bool damaged = false;
        EXPECT_EQ(receiveMbapReply(fromBytes, 0x0102, 9, 3, 5, adu, received, damaged), c.expected);
        EXPECT_EQ(damaged, c.expected == MBR_CRC_MISMATCH);
        EXPECT_LE(used, c.bytes.size());
        if (c.expected == MBR_SUCCESS) {
            EXPECT_EQ(received, 13);
        }
    }
}

}  // namespace
}  // namespace kvx
