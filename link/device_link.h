#pragma once
// What every caller above the link needs of it. The program holds one for its whole
// run; tests put a scripted controller behind it.
#include <cstdint>
#include <string>

namespace kvx {

class DeviceLink {
  public:
    virtual ~DeviceLink() = default;

    // Opens the configured port name (COMn or a device path) at 9600 baud, 8N1. 0 or an MBR_*
    // code; a failed open leaves the link closed.
    virtual int openConnection(const std::string& portName) = 0;
    virtual void closeConnection() = 0;
    virtual bool isConnected() const = 0;
    virtual int setReplyTimeout(int ms) = 0;
    virtual int getReplyTimeout() const = 0;

    // Reads clear values first, so a failure leaves zeros.
    virtual int readHoldingRegisters(int slave, int startRef, std::int16_t* values, int count) = 0;
    virtual int readInputRegisters(int slave, int startRef, std::int16_t* values, int count) = 0;
    virtual int writeSingleRegister(int slave, int ref, std::int16_t value) = 0;
    virtual int writeMultipleRegisters(int slave, int startRef, const std::int16_t* values,
                                       int count) = 0;
};

}  // namespace kvx
