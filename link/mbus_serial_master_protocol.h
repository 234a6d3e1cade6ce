#pragma once
// A Modbus master on a serial line: owns the port, opens and closes it, retries failed attempts
// and drives RTS around transmissions when asked to. The framing of one attempt is left to the
// concrete protocol. Instead of the port, an already open byte channel (a TCP stream to a serial
// device server) may carry the same frames; the attempt's sequence is then unchanged, with drain
// and RTS doing nothing.
#include <cstdint>
#include <memory>

#include "link/mbus_master_functions.h"
#include "link/serial_port.h"

namespace kvx {

class MbusSerialMasterProtocol : public MbusMasterFunctions {
  public:
    ~MbusSerialMasterProtocol() override;

    int isConnected() const override;
    void closeConnection() override;
    // Retries MBR_CRC_MISMATCH, MBR_FRAME_MISMATCH and MBR_REPLY_TIMEOUT up to retryCount times.
    int exchange(int slave, int function, const std::uint8_t* requestData, int requestLength,
                 std::uint8_t* replyData, int replyLength) override;

    // 8 data bits, 1 stop bit, no parity.
    virtual int openConnection(const char* portName, int baudRate);
    // parity 0 none, 1 odd, 2 even. Once the device itself is open, a later failure leaves it
    // open: callers close before opening again.
    virtual int openConnection(const char* portName, int baudRate, int dataBits, int stopBits,
                               int parity);
    // Above 0: RTS is raised for each request and dropped delayMs after it has been sent.
    // Carries the frames over `channel` (open) until closeConnection, as if it were the port
    // opened at baudRate. MBR_WRONG_STATE while connected, MBR_OPEN_FAILED for a closed channel.
    virtual int attachChannel(std::unique_ptr<ByteChannel> channel, int baudRate);
    virtual int setRtsTurnaroundDelay(int delayMs);
    // One attempt, without retries.
    virtual int sendAndReceive(int slave, int function, const std::uint8_t* requestData,
                               int requestLength, std::uint8_t* replyData, int replyLength) = 0;

    int getRtsTurnaroundDelay() const { return rtsDelayMs; }
    // The errno behind the last failed open, 0 after a good one (see SerialPort).
    int lastOpenError() const { return port.lastOpenError(); }

  protected:
    SerialPort port;
    // What the attempt talks to: the port, or the attached channel.
    ByteChannel* line = &port;
    std::unique_ptr<ByteChannel> attached;
    int rtsControl = 0;
    int rtsDelayMs = 0;
};

}  // namespace kvx
