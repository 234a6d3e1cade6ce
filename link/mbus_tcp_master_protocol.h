#pragma once
// The Modbus TCP master: MBAP frames over an open stream (plain TCP or TLS) to a gateway or a
// TCP slave. Each request carries the next transaction id and the slave address as its unit id;
// the reply must carry both back.
//
// Outcomes, chosen to match what the same event gives on a serial line:
//   - no reply in time, or a gateway's exception 10 or 11: MBR_REPLY_TIMEOUT (the gateway
//     answering that its slave did not is still no reply from the slave, and the caller's count
//     of bad ticks must then reconnect as it does on a line);
//   - a reply with another unit id, or with a transaction id this connection never sent (or
//     sent longer ago than the last few requests): MBR_FRAME_MISMATCH at once, as a reply from
//     another slave ends the attempt on a line;
//   - a reply to one of the last few requests, whose attempts were given up (a slow gateway
//     answering late): passed over, and the reply to this request waited for within what is
//     left of the time-out. Each attempt also first discards whatever has arrived unread;
//   - a header that fails its checks (protocol id, length): MBR_CRC_MISMATCH, the damaged frame
//     of a line. The stream is then closed: without a CRC or a silence there is no later byte
//     boundary to trust, and a fresh connection is the only certain start of a frame;
//   - a connection the peer closed or reset, also in the middle of a frame: MBR_IO_FAILURE, and
//     the master is no longer connected, so the caller's reconnect opens it again;
//   - a reply cut short by the time-out: MBR_REPLY_TIMEOUT, and the stream is closed as for a
//     damaged header, since the rest of that frame may still come.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "link/byte_channel.h"
#include "link/mbap_frame.h"
#include "link/mbus_master_functions.h"

namespace kvx {

class MbusTcpMasterProtocol : public MbusMasterFunctions {
  public:
    ~MbusTcpMasterProtocol() override;

    int isConnected() const override;
    void closeConnection() override;
    // Talks over `channel` (open) until closeConnection. MBR_WRONG_STATE while connected,
    // MBR_OPEN_FAILED for a closed channel.
    int attachChannel(std::unique_ptr<ByteChannel> channel);
    // Retries MBR_CRC_MISMATCH, MBR_FRAME_MISMATCH and MBR_REPLY_TIMEOUT up to retryCount times
    // while the connection lasts.
    int exchange(int slave, int function, const std::uint8_t* requestData, int requestLength,
                 std::uint8_t* replyData, int replyLength) override;
    // One attempt, without retries: discard what is waiting, spacing, write, read the header,
    // read the length it announces, judge.
    int sendAndReceive(int slave, int function, const std::uint8_t* requestData, int requestLength,
                       std::uint8_t* replyData, int replyLength);

    // The transaction id of the last request sent (0 before the first).
    std::uint16_t lastTransactionId() const { return transactionId; }
    // Why the last transaction that closed the connection did so, in words ("the peer closed
    // the connection", a TLS alert, a damaged header); empty while none has.
    const std::string& lastFailure() const { return failure; }

  private:
    static constexpr int kMaxLateReplies = 8;

    std::unique_ptr<ByteChannel> channel;
    unsigned sentOnConnection = 0;
    std::string failure;
    std::uint16_t transactionId = 0;
    std::array<std::uint8_t, kMbapMaxAdu> adu{};
    TrafficCapture replyBytes;  // what the reader took, while a traffic ring is set
};

}  // namespace kvx
