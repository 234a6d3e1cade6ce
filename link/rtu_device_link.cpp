#include "link/rtu_device_link.h"

#include <utility>

#include "link/port_name.h"

namespace kvx {

RtuDeviceLink::RtuDeviceLink(std::string programDir, std::string overridePath)
    : programDir_(std::move(programDir)), overridePath_(std::move(overridePath)) {}

int RtuDeviceLink::openConnection(const std::string& portName) {
    lastPath_ = overridePath_.empty() ? resolvePortName(portName, programDir_) : overridePath_;
    const int result = master_.openConnection(lastPath_.c_str(), 9600, 8, 1, 0);
    // The master keeps a half-opened device open; a failed open here means closed.
    if (result != 0) master_.closeConnection();
    return result;
}

void RtuDeviceLink::closeConnection() {
    master_.closeConnection();
}

bool RtuDeviceLink::isConnected() const {
    return master_.isConnected() != 0;
}

int RtuDeviceLink::setReplyTimeout(int ms) {
    return master_.setReplyTimeout(ms);
}

int RtuDeviceLink::getReplyTimeout() const {
    return master_.getReplyTimeout();
}

int RtuDeviceLink::readHoldingRegisters(int slave, int startRef, std::int16_t* values, int count) {
    return master_.readHoldingRegisters(slave, startRef, values, count);
}

int RtuDeviceLink::readInputRegisters(int slave, int startRef, std::int16_t* values, int count) {
    return master_.readInputRegisters(slave, startRef, values, count);
}

int RtuDeviceLink::writeSingleRegister(int slave, int ref, std::int16_t value) {
    return master_.writeSingleRegister(slave, ref, value);
}

int RtuDeviceLink::writeMultipleRegisters(int slave, int startRef, const std::int16_t* values,
                                          int count) {
    return master_.writeMultipleRegisters(slave, startRef, values, count);
}

}  // namespace kvx
