#pragma once
// The byte channel under the RTU master: a serial port or a TCP stream. Every outcome is an
// SP_* status (serial_port.h). Reads and writes move exactly count bytes within a total
// time-out; a short transfer is SP_TIMEOUT. On a stream, drain and RTS mean nothing and succeed.
#include <cstdint>
#include <string>

namespace kvx {

class ByteChannel {
  public:
    virtual ~ByteChannel() = default;

    // False once closed, and for a stream also once the peer closed or reset the connection.
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    virtual int write(const std::uint8_t* buffer, int count, int timeoutMs) = 0;
    virtual int read(std::uint8_t* buffer, int count, int timeoutMs) = 0;
    // How many bytes the last read put into its buffer, also when it timed out: the start of a
    // reply cut short. -1 where the channel does not say.
    virtual int lastReadCount() const { return -1; }
    // Discards whatever has been received and not read.
    virtual int purge() = 0;
    // Waits until what was written has left.
    virtual int drain() = 0;
    virtual int raiseRts() = 0;
    virtual int lowerRts() = 0;
    // What the last failure was, in words, where the channel knows more than its status (a
    // stream: "the peer closed the connection", a TLS alert); empty otherwise.
    virtual std::string lastError() const { return {}; }
};

}  // namespace kvx
