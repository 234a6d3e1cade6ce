#include "app/open_off_thread_link.h"

#include <QEventLoop>
#include <QMetaObject>
#include <algorithm>
#include <thread>
#include <utility>

#include "link/port_name.h"
#include "link/result_codes.h"

namespace kvx {

OpenOffThreadLink::OpenOffThreadLink(DeviceLink& inner, SlowOpen slowOpen)
    : inner_(inner), slowOpen_(std::move(slowOpen)) {}

int OpenOffThreadLink::openConnection(const std::string& portName) {
    if (opening_) return MBR_WRONG_STATE;
    if (!slowOpen_ || !slowOpen_(portName)) return inner_.openConnection(portName);

    opening_ = true;
    int result = MBR_OPEN_FAILED;
    QEventLoop loop;
    // The worker only opens; the loop object outlives it (joined below), so its queued quit
    // always finds the loop, also when the open ends before exec() starts.
    std::thread worker([this, &portName, &result, &loop] {
        result = inner_.openConnection(portName);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    worker.join();
    opening_ = false;
    return result;
}

std::string OpenOffThreadLink::lastOpenError() const {
    return opening_ ? std::string() : inner_.lastOpenError();
}

void OpenOffThreadLink::setTlsFiles(const TlsFiles& files) {
    if (!opening_) inner_.setTlsFiles(files);
}

bool OpenOffThreadLink::setTrafficRing(TrafficRing* ring) {
    return !opening_ && inner_.setTrafficRing(ring);
}

void OpenOffThreadLink::closeConnection() {
    if (!opening_) inner_.closeConnection();
}

bool OpenOffThreadLink::isConnected() const {
    return !opening_ && inner_.isConnected();
}

int OpenOffThreadLink::setReplyTimeout(int ms) {
    return opening_ ? MBR_WRONG_STATE : inner_.setReplyTimeout(ms);
}

int OpenOffThreadLink::getReplyTimeout() const {
    return inner_.getReplyTimeout();
}

int OpenOffThreadLink::readHoldingRegisters(int slave, int startRef, std::int16_t* values,
                                            int count) {
    if (!opening_) return inner_.readHoldingRegisters(slave, startRef, values, count);
    if (values != nullptr && count > 0) std::fill_n(values, count, std::int16_t{0});
    return MBR_WRONG_STATE;
}

int OpenOffThreadLink::readInputRegisters(int slave, int startRef, std::int16_t* values,
                                          int count) {
    if (!opening_) return inner_.readInputRegisters(slave, startRef, values, count);
    if (values != nullptr && count > 0) std::fill_n(values, count, std::int16_t{0});
    return MBR_WRONG_STATE;
}

int OpenOffThreadLink::writeSingleRegister(int slave, int ref, std::int16_t value) {
    return opening_ ? MBR_WRONG_STATE : inner_.writeSingleRegister(slave, ref, value);
}

int OpenOffThreadLink::writeMultipleRegisters(int slave, int startRef, const std::int16_t* values,
                                              int count) {
    return opening_ ? MBR_WRONG_STATE
                    : inner_.writeMultipleRegisters(slave, startRef, values, count);
}

bool isNetworkPortName(const std::string& portName) {
    PortAddress address;
    std::string error;
    // A scheme that does not parse fails at once wherever it runs; only a parsed network
    // address looks up a name and connects.
    return parsePortAddress(portName, address, error) && address.kind != PortKind::Serial;
}

}  // namespace kvx
