#include "link/mbus_serial_master_protocol.h"

#include "link/result_codes.h"

#include <utility>

namespace kvx {

MbusSerialMasterProtocol::~MbusSerialMasterProtocol() {
    port.close();
}

int MbusSerialMasterProtocol::isConnected() const {
    return line->isOpen() ? 1 : 0;
}

void MbusSerialMasterProtocol::closeConnection() {
    port.close();
    line = &port;
    attached.reset();
}

int MbusSerialMasterProtocol::attachChannel(std::unique_ptr<ByteChannel> channel, int baudRate) {
    if (isConnected()) return MBR_WRONG_STATE;
    if (baudRate <= 0) return MBR_BAD_ARGUMENT;
    if (!channel || !channel->isOpen()) return MBR_OPEN_FAILED;
    closeConnection();
    attached = std::move(channel);
    line = attached.get();
    return MBR_SUCCESS;
}

int MbusSerialMasterProtocol::openConnection(const char* portName, int baudRate) {
    return openConnection(portName, baudRate, 8, 1, 0);
}

int MbusSerialMasterProtocol::openConnection(const char* portName, int baudRate, int dataBits,
                                             int stopBits, int parity) {
    if (isConnected()) return MBR_WRONG_STATE;
    if (dataBits != 7 && dataBits != 8) return MBR_BAD_ARGUMENT;
    closeConnection();  // a channel whose peer has gone
    const int status = port.open(portName);
    if (status == SP_ACCESS_DENIED) return MBR_PORT_BUSY;
    if (status != SP_OK) return MBR_OPEN_FAILED;
    if (port.configure(baudRate, dataBits, stopBits, parity, 0) != SP_OK) return MBR_BAD_ARGUMENT;
    if (rtsControl == 1) port.lowerRts();
    return MBR_SUCCESS;
}

int MbusSerialMasterProtocol::setRtsTurnaroundDelay(int delayMs) {
    if (delayMs < 0 || delayMs > kMaxMilliseconds) return MBR_BAD_ARGUMENT;
    if (isConnected()) return MBR_WRONG_STATE;
    rtsDelayMs = delayMs;
    rtsControl = delayMs > 0 ? 1 : 0;
    return MBR_SUCCESS;
}

int MbusSerialMasterProtocol::exchange(int slave, int function, const std::uint8_t* requestData,
                                       int requestLength, std::uint8_t* replyData,
                                       int replyLength) {
    if (!isConnected()) return MBR_WRONG_STATE;
    int remaining = retryCount;
    for (;;) {
        const int result =
            sendAndReceive(slave, function, requestData, requestLength, replyData, replyLength);
        const bool retryable = result == MBR_CRC_MISMATCH || result == MBR_FRAME_MISMATCH ||
                               result == MBR_REPLY_TIMEOUT;
        if (!retryable || remaining <= 0) return result;
        --remaining;
    }
}

}  // namespace kvx
