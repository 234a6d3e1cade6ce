// Any byte string as what arrives after each of the master's four data functions' request.
// The exchange receives with the RTU master's own receive (the first five bytes, the rest of the
// length they announce, an adapter's echo of the request passed over) and judges with the same
// functions, without a port.
//
// Input: one byte choosing the function, its size and whether the adapter is already known to
// echo, then the bytes as they would arrive.
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
    ReplyFromBytes(const std::uint8_t* data, std::size_t size, bool echoing)
        : data_(data), size_(size), echoing_(echoing) {}

    int exchange(int slave, int function, const std::uint8_t* requestData, int requestLength,
                 std::uint8_t* replyData, int replyLength) override {
        std::uint8_t sent[kRtuMaxFrame];
        const int sentLength =
            buildRtuFrame(sent, kRtuMaxFrame, slave, function, requestData, requestLength);
        FUZZ_CHECK(sentLength > 0);
        if (slave == 0 || replyLength <= 0) return MBR_SUCCESS;
        const RtuByteReader fromInput = [this](std::uint8_t* buffer, int count) {
            if (size_ - used_ < static_cast<std::size_t>(count)) return MBR_REPLY_TIMEOUT;
            std::memcpy(buffer, data_ + used_, static_cast<std::size_t>(count));
            used_ += static_cast<std::size_t>(count);
            return MBR_SUCCESS;
        };
        const int verdict =
            receiveRtuReply(fromInput, sent, sentLength, replyLength, echoing_, frame_);
        if (verdict != MBR_SUCCESS) return verdict;
        // Accepted: the frame is whole, its CRC right, and it is from the slave asked about
        // the function asked for. It is the last bytes read, and anything read before it was
        // a copy of our own request.
        const int total = replyLength + 4;
        FUZZ_CHECK(crc16Matches(frame_, static_cast<std::size_t>(total)));
        FUZZ_CHECK(frame_[0] == slave && frame_[1] == function);
        FUZZ_CHECK(used_ >= static_cast<std::size_t>(total));
        replyStart = used_ - static_cast<std::size_t>(total);
        FUZZ_CHECK(std::memcmp(frame_, data_ + replyStart, static_cast<std::size_t>(total)) == 0);
        FUZZ_CHECK(replyStart == 0 || (replyStart == static_cast<std::size_t>(sentLength) &&
                                       std::memcmp(data_, sent, replyStart) == 0));
        std::memcpy(replyData, frame_ + 2, static_cast<std::size_t>(replyLength));
        return MBR_SUCCESS;
    }

    std::size_t replyStart = 0;

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
    bool echoing_;
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
    ReplyFromBytes master(data + 1, size - 1, (choice & 0x4) != 0);
    const int slave = 1 + (choice >> 3 & 0x1) * 160;  // 1, 161
    const int count = 1 + (choice >> 4);              // 1..16 registers
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
                const std::uint8_t* reply = data + 1 + master.replyStart;
                FUZZ_CHECK(reply[2] == 2 * count);
                for (int i = 0; i < count; ++i) {
                    const std::uint16_t word =
                        static_cast<std::uint16_t>(reply[3 + 2 * i] << 8 | reply[4 + 2 * i]);
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
