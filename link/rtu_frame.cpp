#include "link/rtu_frame.h"

#include <cmath>
#include <cstring>

#include "link/crc16.h"
#include "link/result_codes.h"

namespace kvx {

int buildRtuFrame(std::uint8_t* frame, int capacity, int address, int function,
                  const std::uint8_t* data, int length) {
    if (frame == nullptr || address < 0 || address > 255 || function < 0 || function > 255 ||
        length < 0 || (length > 0 && data == nullptr) || length > capacity - 4) {
        return 0;
    }
    frame[0] = static_cast<std::uint8_t>(address);
    frame[1] = static_cast<std::uint8_t>(function);
    if (length > 0) std::memcpy(frame + 2, data, static_cast<std::size_t>(length));
    appendCrc16(frame, static_cast<std::size_t>(length) + 2);
    return length + 4;
}

int rtuReplyFrameLength(const std::uint8_t* frame, int replyLength) {
    if ((frame[1] & kRtuExceptionBit) != 0 || replyLength <= 1) return kRtuExceptionFrame;
    return replyLength + 4;
}

int checkRtuReply(const std::uint8_t* frame, int received, int slave, int function,
                  int replyLength) {
    if (frame == nullptr || received < kRtuExceptionFrame) return MBR_REPLY_TIMEOUT;
    const int length = rtuReplyFrameLength(frame, replyLength);
    if (received < length) return MBR_REPLY_TIMEOUT;
    if (!crc16Matches(frame, static_cast<std::size_t>(length))) return MBR_CRC_MISMATCH;
    if ((frame[1] & ~kRtuExceptionBit) != function || frame[0] != slave) {
        return MBR_FRAME_MISMATCH;
    }
    if ((frame[1] & kRtuExceptionBit) != 0) return MBR_EXCEPTION | frame[2];
    return MBR_SUCCESS;
}

int receiveRtuReply(const RtuByteReader& read, const std::uint8_t* sent, int sentLength,
                    int replyLength, bool& echoing, std::uint8_t* frame, int* echoLength) {
    if (echoLength != nullptr) *echoLength = 0;
    if (sentLength < kRtuExceptionFrame || sentLength > kRtuMaxFrame || replyLength < 0 ||
        replyLength > kRtuMaxData) {
        return MBR_BAD_ARGUMENT;
    }
    const int slave = sent[0];
    const int function = sent[1];
    int have = 0;
    auto take = [&](int upTo) {
        if (upTo <= have) return MBR_SUCCESS;
        const int status = read(frame + have, upTo - have);
        if (status == MBR_SUCCESS) have = upTo;
        return status;
    };
    auto same = [&](int n) { return std::memcmp(frame, sent, static_cast<std::size_t>(n)) == 0; };

    int status = take(kRtuExceptionFrame);
    if (status != MBR_SUCCESS) return status;
    int total = rtuReplyFrameLength(frame, replyLength);
    if (same(kRtuExceptionFrame)) {
        bool echo = false;
        if ((function == 3 || function == 4) && sentLength <= total) {
            status = take(sentLength);
            echo = status == MBR_SUCCESS && same(sentLength);
        } else if (function == 16 && sentLength > total) {
            status = take(total);
            if (status == MBR_SUCCESS && same(total)) {
                status = take(sentLength);
                echo = status == MBR_SUCCESS && same(sentLength);
            }
        } else if (function == 6 && echoing && sentLength == total) {
            status = take(total);
            echo = status == MBR_SUCCESS && same(total);
        }
        if (status != MBR_SUCCESS) return status;
        if (echo) {
            echoing = true;
            if (echoLength != nullptr) *echoLength = sentLength;
            have = 0;
            status = take(kRtuExceptionFrame);
            if (status != MBR_SUCCESS) return status;
            total = rtuReplyFrameLength(frame, replyLength);
        }
    }
    status = take(total);
    if (status != MBR_SUCCESS) return status;
    return checkRtuReply(frame, total, slave, function, replyLength);
}

unsigned rtuSilenceMs(int baudRate) {
    if (baudRate <= 0) return 0;
    // Round to nearest with ties to even (the default mode), after adding a half: 44000 baud
    // gives 1.5 and so 2, every faster rate 1.
    const long ms = std::lrint(11000.0 / baudRate * 4.0 + 0.5);
    return ms <= 1 ? 1U : static_cast<unsigned>(ms);
}

}  // namespace kvx
