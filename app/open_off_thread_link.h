#pragma once
// A device link whose network opens run on a worker thread while the window keeps painting.
// A name lookup and a TCP or TLS connect may take seconds; the rest of the link stays blocking
// as it always was, and a serial open (a few milliseconds) runs where it is called, as before.
//
// While an open is under way, the caller waits in a local event loop that takes no keyboard or
// mouse input; every other call on this link is refused with MBR_WRONG_STATE and the link
// reads as closed, so a timer that fires meanwhile cannot touch the half-opened connection.
#include <functional>
#include <string>

#include "link/device_link.h"

namespace kvx {

class OpenOffThreadLink : public DeviceLink {
  public:
    // Whether opening this port name may take long enough to freeze the window.
    using SlowOpen = std::function<bool(const std::string& portName)>;

    OpenOffThreadLink(DeviceLink& inner, SlowOpen slowOpen);

    int openConnection(const std::string& portName) override;
    std::string lastOpenError() const override;
    void setTlsFiles(const TlsFiles& files) override;
    // Refused (false) while an open runs: the worker's master must not change under it.
    bool setTrafficRing(TrafficRing* ring) override;
    void closeConnection() override;
    bool isConnected() const override;
    int setReplyTimeout(int ms) override;
    int getReplyTimeout() const override;
    int readHoldingRegisters(int slave, int startRef, std::int16_t* values, int count) override;
    int readInputRegisters(int slave, int startRef, std::int16_t* values, int count) override;
    int writeSingleRegister(int slave, int ref, std::int16_t value) override;
    int writeMultipleRegisters(int slave, int startRef, const std::int16_t* values,
                               int count) override;

    // True while an open runs on the worker thread.
    bool opening() const { return opening_; }

  private:
    DeviceLink& inner_;
    SlowOpen slowOpen_;
    bool opening_ = false;
};

// Network port names that parse (tcp://, modbus-tcp://, modbus-tls://): opening one looks up a
// host name and connects. One with a network scheme that does not parse fails at once.
bool isNetworkPortName(const std::string& portName);

}  // namespace kvx
