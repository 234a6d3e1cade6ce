// Any byte string as what a Modbus TCP peer sends after each of the master's four data
// functions' request: the real MBAP master (transaction ids, late replies passed over, the
// header's checks, closing a stream that lost its frame boundaries) over a stream that hands out
// the input and then stays silent. Also the whole-frame decoder on the same bytes.
//
// Input: one byte choosing the function, the register count and the slave, then the bytes as
// they would arrive.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "link/byte_channel.h"
#include "link/mbap_frame.h"
#include "link/mbus_tcp_master_protocol.h"
#include "link/result_codes.h"
#include "link/serial_port.h"

namespace {

using namespace kvx;

class InputStream : public ByteChannel {
  public:
    InputStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool isOpen() const override { return open_; }
    void close() override { open_ = false; }
    int write(const std::uint8_t*, int count, int) override {
        FUZZ_CHECK(open_ && count >= 8 && count <= kMbapMaxAdu);
        return SP_OK;
    }
    int read(std::uint8_t* buffer, int count, int) override {
        FUZZ_CHECK(open_ && count > 0 && count <= kMbapMaxAdu);
        const std::size_t n = std::min(size_ - used_, static_cast<std::size_t>(count));
        std::memcpy(buffer, data_ + used_, n);
        used_ += n;
        return n == static_cast<std::size_t>(count) ? SP_OK : SP_TIMEOUT;
    }
    // Nothing has arrived before the request: all the input comes after it.
    int purge() override { return SP_OK; }
    int drain() override { return SP_OK; }
    int raiseRts() override { return SP_OK; }
    int lowerRts() override { return SP_OK; }
    std::size_t used() const { return used_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
    bool open_ = true;
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
    const std::uint8_t* bytes = data + 1;
    const std::size_t length = size - 1;
    MbapHeader header;
    const MbapStatus whole = decodeMbapAdu(bytes, static_cast<int>(length), header);
    FUZZ_CHECK(whole != MbapStatus::Ok || header.aduLength() == static_cast<int>(length));

    const int choice = data[0];
    const int slave = 1 + (choice >> 3 & 0x1) * 160;  // 1, 161
    const int count = 1 + (choice >> 4);              // 1..16 registers
    auto owned = std::make_unique<InputStream>(bytes, length);
    InputStream* stream = owned.get();
    MbusTcpMasterProtocol master;
    master.setReplyTimeout(1);
    FUZZ_CHECK(master.attachChannel(std::move(owned)) == MBR_SUCCESS);
    std::int16_t values[MbusMasterFunctions::kMaxReadCount];
    std::fill(std::begin(values), std::end(values), static_cast<std::int16_t>(0x5A5A));
    int result = 0;
    switch (choice & 0x3) {
        case 0:
        case 1: {
            const int function = (choice & 1) == 0 ? 3 : 4;
            result = function == 3 ? master.readHoldingRegisters(slave, 1, values, count)
                                   : master.readInputRegisters(slave, 1, values, count);
            if (result == MBR_SUCCESS) {
                // The accepted reply is the last frame read, for this transaction and slave,
                // and every value is its big-endian word.
                const int adu = kMbapHeaderLength + 2 + 2 * count;
                FUZZ_CHECK(stream->used() >= static_cast<std::size_t>(adu));
                const std::uint8_t* reply = bytes + stream->used() - adu;
                FUZZ_CHECK(decodeMbapAdu(reply, adu, header) == MbapStatus::Ok);
                FUZZ_CHECK(header.transactionId == master.lastTransactionId());
                FUZZ_CHECK(header.unitId == slave && reply[7] == function);
                FUZZ_CHECK(reply[8] == 2 * count);
                for (int i = 0; i < count; ++i) {
                    const std::uint16_t word =
                        static_cast<std::uint16_t>(reply[9 + 2 * i] << 8 | reply[10 + 2 * i]);
                    FUZZ_CHECK(static_cast<std::uint16_t>(values[i]) == word);
                }
            } else {
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
    // A damaged header closes the stream; a good reply leaves it open.
    if (result == MBR_CRC_MISMATCH) FUZZ_CHECK(master.isConnected() == 0);
    if (result == MBR_SUCCESS) FUZZ_CHECK(master.isConnected() == 1);
    return 0;
}
