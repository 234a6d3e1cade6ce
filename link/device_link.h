#pragma once
// What every caller above the link needs of it. The program holds one for its whole
// run; tests put a scripted controller behind it.
#include <cstdint>
#include <string>

#include "link/tls_context.h"
#include "link/traffic_record.h"

namespace kvx {

class DeviceLink {
  public:
    virtual ~DeviceLink() = default;

    // Opens the configured port name (COMn or a device path at 9600 baud, 8N1, or a network
    // address, see port_name.h) . 0 or an MBR_* code; a failed open leaves the link closed. A
    // network open may take up to a few seconds: a window runs it off its own thread.
    virtual int openConnection(const std::string& portName) = 0;
    // Why the last open failed, in words, for a network port ("gw:502: the connection to gw:502
    // was refused"); empty after a good open and for a serial port, whose result code already
    // says enough.
    virtual std::string lastOpenError() const { return {}; }
    // The files for Modbus/TCP Security, read by the owner from its settings file.
    virtual void setTlsFiles(const TlsFiles& files) { (void)files; }
    // Records every frame of the serial line or the network into `ring` (nullptr: stops);
    // false when this link has no frames to record (a scripted one). The caller owns the ring
    // and keeps it until it has been set back to nullptr. Not while an open runs off-thread.
    virtual bool setTrafficRing(TrafficRing* ring) {
        (void)ring;
        return false;
    }
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
