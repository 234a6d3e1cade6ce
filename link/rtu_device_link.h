#pragma once
// The device link over the RTU master on a serial port.
#include <string>

#include "link/device_link.h"
#include "link/mbus_rtu_master_protocol.h"

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

    // The device path the last open used.
    const std::string& lastDevicePath() const { return lastPath_; }

  private:
    std::string programDir_;
    std::string overridePath_;
    std::string lastPath_;
    MbusRtuMasterProtocol master_;
};

}  // namespace kvx
