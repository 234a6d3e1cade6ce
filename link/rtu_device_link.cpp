#include "link/rtu_device_link.h"

#include <memory>
#include <utility>

#include "link/network_open.h"
#include "link/port_name.h"
#include "link/result_codes.h"

namespace kvx {

RtuDeviceLink::RtuDeviceLink(std::string programDir, std::string overridePath)
    : programDir_(std::move(programDir)),
      overridePath_(std::move(overridePath)),
      connectTimeoutMs_(kConnectTimeoutMs) {}

int RtuDeviceLink::openConnection(const std::string& portName) {
    lastOpenError_.clear();
    // An open while open is refused and leaves the link closed, as it always has; a stream
    // whose peer has gone is closed here too.
    const bool wasOpen = isConnected();
    closeConnection();
    if (wasOpen) return MBR_WRONG_STATE;
    PortAddress address;
    if (!overridePath_.empty() || !parsePortAddress(portName, address, lastOpenError_)) {
        if (overridePath_.empty()) {
            lastPath_ = portName;
            return MBR_OPEN_FAILED;  // a network name that does not parse: never a serial name
        }
        address = PortAddress{};
    }
    if (address.kind == PortKind::Serial) {
        active_ = &master_;
        lastPath_ = overridePath_.empty() ? resolvePortName(portName, programDir_) : overridePath_;
        const int result = master_.openConnection(lastPath_.c_str(), 9600, 8, 1, 0);
        // The master keeps a half-opened device open; a failed open here means closed.
        if (result != 0) master_.closeConnection();
        return result;
    }

    lastPath_ = portName;
    std::unique_ptr<NetStream> stream;
    const int opened = openNetworkStream(address, tls_, connectTimeoutMs_, stream, lastOpenError_);
    if (opened != MBR_SUCCESS) return opened;
    if (address.kind == PortKind::RtuOverTcp) {
        // The serial device server's line runs at the rate this link always uses.
        active_ = &master_;
        return master_.attachChannel(std::move(stream), 9600);
    }
    active_ = &tcpMaster_;
    return tcpMaster_.attachChannel(std::move(stream));
}

bool RtuDeviceLink::setTrafficRing(TrafficRing* ring) {
    master_.setTrafficRing(ring);
    tcpMaster_.setTrafficRing(ring);
    return true;
}

void RtuDeviceLink::closeConnection() {
    master_.closeConnection();
    tcpMaster_.closeConnection();
}

bool RtuDeviceLink::isConnected() const {
    return active_->isConnected() != 0;
}

int RtuDeviceLink::setReplyTimeout(int ms) {
    const int result = active_->setReplyTimeout(ms);
    if (result != MBR_SUCCESS) return result;
    // Both masters keep the same time-out, whichever the next port name chooses.
    master_.setReplyTimeout(ms);
    tcpMaster_.setReplyTimeout(ms);
    return result;
}

int RtuDeviceLink::getReplyTimeout() const {
    return active_->getReplyTimeout();
}

int RtuDeviceLink::readHoldingRegisters(int slave, int startRef, std::int16_t* values, int count) {
    return active_->readHoldingRegisters(slave, startRef, values, count);
}

int RtuDeviceLink::readInputRegisters(int slave, int startRef, std::int16_t* values, int count) {
    return active_->readInputRegisters(slave, startRef, values, count);
}

int RtuDeviceLink::writeSingleRegister(int slave, int ref, std::int16_t value) {
    return active_->writeSingleRegister(slave, ref, value);
}

int RtuDeviceLink::writeMultipleRegisters(int slave, int startRef, const std::int16_t* values,
                                          int count) {
    return active_->writeMultipleRegisters(slave, startRef, values, count);
}

}  // namespace kvx
