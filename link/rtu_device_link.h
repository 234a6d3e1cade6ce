#pragma once
// The device link the program uses: by the port name, the RTU master on a serial port or on a
// TCP stream (tcp://), or the Modbus TCP master on a TCP or TLS stream (modbus-tcp://,
// modbus-tls://).
#include <string>

#include "link/device_link.h"
#include "link/mbus_rtu_master_protocol.h"
#include "link/mbus_tcp_master_protocol.h"
#include "link/tls_context.h"

namespace kvx {

class RtuDeviceLink : public DeviceLink {
  public:
    // programDir is where COMn names are looked up. A non-empty overridePath replaces every
    // port name for this run (the built-in simulator's pseudo-terminal).
    RtuDeviceLink(std::string programDir, std::string overridePath = {});

    int openConnection(const std::string& portName) override;
    void closeConnection() override;
    bool isConnected() const override;
    int setReplyTimeout(int ms) override;
    int getReplyTimeout() const override;
    int readHoldingRegisters(int slave, int startRef, std::int16_t* values, int count) override;
    int readInputRegisters(int slave, int startRef, std::int16_t* values, int count) override;
    int writeSingleRegister(int slave, int ref, std::int16_t value) override;
    int writeMultipleRegisters(int slave, int startRef, const std::int16_t* values,
                               int count) override;
    std::string lastOpenError() const override { return lastOpenError_; }
    void setTlsFiles(const TlsFiles& files) override { tls_ = files; }
    // Both masters record into the ring, whichever the port name chooses.
    bool setTrafficRing(TrafficRing* ring) override;

    // The device path the last open used (for a network port, its name as given).
    const std::string& lastDevicePath() const { return lastPath_; }
    // Time-out of name lookup, connect and TLS handshake together.
    void setConnectTimeout(int ms) { connectTimeoutMs_ = ms; }

  private:
    std::string programDir_;
    std::string overridePath_;
    std::string lastPath_;
    std::string lastOpenError_;
    TlsFiles tls_;
    int connectTimeoutMs_;
    MbusRtuMasterProtocol master_;
    MbusTcpMasterProtocol tcpMaster_;
    MbusMasterFunctions* active_ = &master_;
};

}  // namespace kvx
