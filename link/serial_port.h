#pragma once
// The serial channel under the RTU master: one device opened exclusively, exact-count reads and
// writes within a total time-out, purge, drain and manual RTS. Every outcome is an SP_* status.
#include <termios.h>

#include <cstdint>

#include "link/byte_channel.h"

namespace kvx {

constexpr int SP_OK = 0;
constexpr int SP_BAD_SETTING = 0x1101;  // a line parameter is not allowed, or the device refused it
constexpr int SP_IO_FAILURE = 0x1102;   // a platform call failed
constexpr int SP_NOT_FOUND = 0x1103;    // the device does not exist
constexpr int SP_ACCESS_DENIED = 0x1104;  // the device is held elsewhere
constexpr int SP_NOT_OPEN = 0x1105;       // the operation needs an open device
constexpr int SP_TIMEOUT = 0x1106;        // fewer bytes than requested within the time-out
constexpr int SP_NOT_SUPPORTED = 0x1108;  // drain and manual RTS under hardware flow control
constexpr int SP_CLOSED = 0x1109;         // a stream's peer closed or reset the connection

// Time-outs of one call in milliseconds. Rebuilt from zero before every read, write and drain;
// only the total constants are ever set. A total of 0 takes what can be moved at once and never
// waits (it does not mean "wait forever").
struct SerialTimeouts {
    std::uint32_t readIntervalTimeout = 0;
    std::uint32_t readTotalTimeoutMultiplier = 0;
    std::uint32_t readTotalTimeoutConstant = 0;
    std::uint32_t writeTotalTimeoutMultiplier = 0;
    std::uint32_t writeTotalTimeoutConstant = 0;
};

class SerialPort final : public ByteChannel {
  public:
    SerialPort() = default;
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens a device path exclusively, saves its settings, purges it and applies 9600 8N1 without
    // flow control. A failure after the device itself was opened leaves it open.
    int open(const char* portName);
    // The errno behind the last failed open (0 after a successful one), so a caller can tell a
    // missing permission (EACCES, EPERM) from a device another program holds (EWOULDBLOCK).
    int lastOpenError() const { return openError; }
    // dataBits 7 or 8; stopBits 1 or 2; parity 0 none, 1 odd, 2 even; flowControl 0 none,
    // 1 RTS/CTS. A refused value leaves the device as it was.
    int configure(int baudRate, int dataBits, int stopBits, int parity, int flowControl);
    // Purges, restores the settings saved at open and releases the device; never fails.
    void close() override;
    bool isOpen() const override { return handle >= 0; }

    // Transfer exactly count bytes within timeoutMs in total; a short transfer is SP_TIMEOUT,
    // with whatever did arrive left in the buffer.
    int write(const std::uint8_t* buffer, int count, int timeoutMs) override;
    int read(std::uint8_t* buffer, int count, int timeoutMs) override;
    int lastReadCount() const override { return readCount; }

    int purge() override;
    int drain() override;
    int raiseRts() override;
    int lowerRts() override;

    int configuredBaudRate() const { return baudRate; }
    int configuredFlowControl() const { return flowControl; }
    int nativeHandle() const { return handle; }
    const SerialTimeouts& currentTimeouts() const { return timeouts; }

  private:
    enum class Direction { Read, Write };
    int applyTimeouts(Direction direction, int timeoutMs);
    int transfer(Direction direction, std::uint8_t* buffer, int count, int timeoutMs);
    int setRts(bool raised);

    int baudRate = 0;
    int flowControl = 0;
    std::int64_t characterNs = 0;  // one character's time on the line at the configured rate
    int handle = -1;
    int openError = 0;
    SerialTimeouts timeouts;
    termios savedSettings{};
    bool settingsSaved = false;
    int readCount = 0;  // what the last read left in its buffer
};

}  // namespace kvx
