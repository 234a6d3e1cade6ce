#include "link/mbus_rtu_master_protocol.h"

#include <cstring>
#include <utility>

#include "link/result_codes.h"

namespace kvx {

int MbusRtuMasterProtocol::openConnection(const char* portName, int baudRate) {
    return openConnection(portName, baudRate, 8, 1, 0);
}

int MbusRtuMasterProtocol::openConnection(const char* portName, int baudRate, int dataBits,
                                          int stopBits, int parity) {
    // An open connection keeps the silence of the rate it runs at.
    if (!isConnected()) {
        if (baudRate <= 0) return MBR_BAD_ARGUMENT;
        silenceMs = rtuSilenceMs(baudRate);
        echoing = false;  // another adapter may be behind the port now
    }
    if (dataBits != 8) return MBR_BAD_ARGUMENT;
    return MbusSerialMasterProtocol::openConnection(portName, baudRate, dataBits, stopBits, parity);
}

int MbusRtuMasterProtocol::attachChannel(std::unique_ptr<ByteChannel> channel, int baudRate) {
    if (!isConnected() && baudRate > 0) {
        silenceMs = rtuSilenceMs(baudRate);
        echoing = false;
    }
    return MbusSerialMasterProtocol::attachChannel(std::move(channel), baudRate);
}

// Reads and discards until the line has been quiet for silenceMs. A line that does not go quiet
// within the reply time-out is given up without sending (MBR_SEND_TIMEOUT): the request could
// not be put on the line in time, and sending into traffic would only garble it. A read that
// fails otherwise (a refused time-out) ends the wait as a channel failure.
int MbusRtuMasterProtocol::waitForSilence() {
    const std::int64_t limit =
        DeadlineTimer::nowTicks() + static_cast<std::int64_t>(timeoutMs) * 10000;
    std::uint8_t discarded = 0;
    for (;;) {
        const int status = line->read(&discarded, 1, static_cast<int>(silenceMs));
        if (status == SP_TIMEOUT) return MBR_SUCCESS;
        if (status != SP_OK) return MBR_IO_FAILURE;
        if (DeadlineTimer::nowTicks() >= limit) return MBR_SEND_TIMEOUT;
    }
}

int MbusRtuMasterProtocol::sendAndReceive(int slave, int function, const std::uint8_t* requestData,
                                          int requestLength, std::uint8_t* replyData,
                                          int replyLength) {
    if (function < 1 || function > 127) return MBR_BAD_ARGUMENT;
    if (replyLength > kRtuMaxData || (replyLength > 0 && replyData == nullptr)) {
        return MBR_BAD_ARGUMENT;
    }
    const int length =
        buildRtuFrame(frame.data(), kRtuMaxFrame, slave, function, requestData, requestLength);
    if (length == 0) return MBR_BAD_ARGUMENT;
    if (!line->isOpen()) return MBR_WRONG_STATE;

    line->purge();
    if (requestSpacingMs > 0) spacingTimer.wait();
    spacingTimer.setFromNow(requestSpacingMs);

    // One pointer for the whole attempt, tested and nothing more while nobody watches.
    TrafficRing* const ring = traffic;
    const int silence = waitForSilence();
    if (silence != MBR_SUCCESS) {
        if (ring) ring->recordRequest(TrafficFraming::rtu, frame.data(), length, slave, silence);
        return silence;
    }

    if (rtsControl == 1) line->raiseRts();
    const int written = line->write(frame.data(), length, timeoutMs);
    line->drain();
    // The reply's delay counts from here, the request's end on the line.
    std::int64_t sentUs = 0;
    if (ring) {
        const int sendResult = written == SP_OK        ? MBR_SUCCESS
                               : written == SP_TIMEOUT ? MBR_SEND_TIMEOUT
                                                       : MBR_IO_FAILURE;
        sentUs = ring->recordRequest(TrafficFraming::rtu, frame.data(), length, slave, sendResult);
    }
    if (rtsControl == 1) {
        if (rtsDelayMs > 0) {
            DeadlineTimer turnaround;
            turnaround.setFromNow(rtsDelayMs);
            turnaround.wait();
        }
        line->lowerRts();
    }
    if (written == SP_TIMEOUT) return MBR_SEND_TIMEOUT;
    if (written != SP_OK) return MBR_IO_FAILURE;

    if (slave == 0 || replyLength <= 0) return MBR_SUCCESS;

    // Kept for telling an adapter's echo of it from the reply.
    std::memcpy(sent.data(), frame.data(), static_cast<std::size_t>(length));
    replyBytes.clear();
    const RtuByteReader fromPort = [this](std::uint8_t* buffer, int count) {
        const int got = line->read(buffer, count, timeoutMs);
        if (got == SP_OK && traffic) replyBytes.add(buffer, count);
        if (got == SP_OK) return MBR_SUCCESS;
        return got == SP_TIMEOUT ? MBR_REPLY_TIMEOUT : MBR_IO_FAILURE;
    };
    const int verdict =
        receiveRtuReply(fromPort, sent.data(), length, replyLength, echoing, frame.data());
    if (ring) {
        ring->recordReply(TrafficFraming::rtu, replyBytes.bytes.data(), replyBytes.length, slave,
                          verdict, sentUs);
    }
    if (verdict != MBR_SUCCESS) return verdict;
    std::memcpy(replyData, frame.data() + 2, static_cast<std::size_t>(replyLength));
    return MBR_SUCCESS;
}

}  // namespace kvx
