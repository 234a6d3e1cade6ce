#pragma once
// The Modbus RTU master: RTU framing with CRC-16, the inter-frame silence, one request/reply
// attempt in a fixed order of line operations.
#include <array>
#include <cstdint>

#include "link/mbus_serial_master_protocol.h"
#include "link/rtu_frame.h"

namespace kvx {

class MbusRtuMasterProtocol : public MbusSerialMasterProtocol {
  public:
    int openConnection(const char* portName, int baudRate) override;
    // Also computes the silence time from the baud rate; only 8 data bits are allowed.
    int openConnection(const char* portName, int baudRate, int dataBits, int stopBits,
                       int parity) override;
    // Also computes the silence time from the rate of the line behind the channel.
    int attachChannel(std::unique_ptr<ByteChannel> channel, int baudRate) override;
    // Purge, spacing, silence, (RTS,) write, drain, (RTS,) read 5 bytes, read the rest, judge.
    int sendAndReceive(int slave, int function, const std::uint8_t* requestData, int requestLength,
                       std::uint8_t* replyData, int replyLength) override;

    unsigned getSilenceMs() const { return silenceMs; }
    // Whether the adapter has handed one of our requests back on this connection.
    bool adapterEchoes() const { return echoing; }

  protected:
    unsigned silenceMs = 0;
    std::array<std::uint8_t, kRtuMaxFrame> frame{};
    std::array<std::uint8_t, kRtuMaxFrame> sent{};  // the request of the transaction under way
    bool echoing = false;
    TrafficCapture replyBytes;  // what the reader took, while a traffic ring is set

  private:
    int waitForSilence(TrafficRing* ring, int slave);
};

}  // namespace kvx
