// Any byte string as the reply to each of the master's four data functions. The exchange below
// receives the way the RTU master does (the first five bytes, then the rest of the length they
// announce) and judges with the same functions, without a port.
//
// Input: one byte choosing the function and its size, then the reply as it would arrive.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "link/crc16.h"
#include "link/mbus_master_functions.h"
#include "link/result_codes.h"
#include "link/rtu_frame.h"

namespace {

using namespace kvx;

class ReplyFromBytes : public MbusMasterFunctions {
  public:
    ReplyFromBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    int exchange(int slave, int function, const std::uint8_t*, int, std::uint8_t* replyData,
                 int replyLength) override {
        lastSlave = slave;
        lastFunction = function;
        if (slave == 0 || replyLength <= 0) return MBR_SUCCESS;
        if (size_ < static_cast<std::size_t>(kRtuExceptionFrame)) return MBR_REPLY_TIMEOUT;
        std::memcpy(frame_, data_, kRtuExceptionFrame);
        const int total = rtuReplyFrameLength(frame_, replyLength);
        FUZZ_CHECK(total >= kRtuExceptionFrame && total <= kRtuMaxFrame);
        if (size_ < static_cast<std::size_t>(total)) return MBR_REPLY_TIMEOUT;
        std::memcpy(frame_, data_, static_cast<std::size_t>(total));
        const int verdict = checkRtuReply(frame_, total, slave, function, replyLength);
        if (verdict != MBR_SUCCESS) return verdict;
        // Accepted: the frame is whole, its CRC right, and it is from the slave asked about
        // the function asked for.
        FUZZ_CHECK(total == replyLength + 4);
        FUZZ_CHECK(crc16Matches(frame_, static_cast<std::size_t>(total)));
        FUZZ_CHECK(frame_[0] == slave && frame_[1] == function);
        std::memcpy(replyData, frame_ + 2, static_cast<std::size_t>(replyLength));
        return MBR_SUCCESS;
    }

    int lastSlave = -1;
    int lastFunction = -1;

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::uint8_t frame_[kRtuMaxFrame] = {};
};

bool isResultCode(int r) {
    switch (r) {
        case MBR_SUCCESS:
        case MBR_CRC_MISMATCH:
        case MBR_FRAME_MISMATCH:
        case MBR_REPLY_MISMATCH:
        case MBR_REPLY_TIMEOUT:
            return true;
        default:
            return r >= MBR_EXCEPTION && r <= (MBR_EXCEPTION | 0xFF);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int choice = data[0];
    ReplyFromBytes master(data + 1, size - 1);
    const int slave = 1 + (choice >> 2 & 0x3) * 80;  // 1, 81, 161, 241
    const int count = 1 + (choice >> 4);             // 1..16 registers
    std::int16_t values[MbusMasterFunctions::kMaxReadCount];
    std::fill(std::begin(values), std::end(values), static_cast<std::int16_t>(0x5A5A));
    int result = 0;
    switch (choice & 0x3) {
        case 0:
        case 1: {
            result = (choice & 1) == 0 ? master.readHoldingRegisters(slave, 1, values, count)
                                       : master.readInputRegisters(slave, 1, values, count);
            if (result == MBR_SUCCESS) {
                // Every value is the reply's big-endian word, after the right byte count.
                FUZZ_CHECK(data[1 + 2] == 2 * count);
                for (int i = 0; i < count; ++i) {
                    const std::uint16_t word =
                        static_cast<std::uint16_t>(data[1 + 3 + 2 * i] << 8 | data[1 + 4 + 2 * i]);
                    FUZZ_CHECK(static_cast<std::uint16_t>(values[i]) == word);
                }
            } else {
                // A failed read leaves zeros, never part of a reply.
                for (int i = 0; i < count; ++i)
                    FUZZ_CHECK(values[i] == 0);
            }
            break;
        }
        case 2:
            result = master.writeSingleRegister(slave, 7, static_cast<std::int16_t>(count));
            break;
        case 3:
            result = master.writeMultipleRegisters(slave, 7, values, count);
            break;
    }
    FUZZ_CHECK(isResultCode(result));
    return 0;
}
