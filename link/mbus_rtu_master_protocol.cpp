#include "link/mbus_rtu_master_protocol.h"

#include <cstring>
#include <utility>

#include "link/result_codes.h"

namespace kvx {
namespace {

// The verdict on a reply as finely as its bytes tell it: the result code alone does not say
// which of address and function was another, nor whether a time-out cut a reply short.
TrafficVerdict rtuReplyVerdict(int result, const std::uint8_t* reply, int received, int slave) {
    if (result == MBR_FRAME_MISMATCH && received > 0) {
        return reply[0] != slave ? TrafficVerdict::wrongSlave : TrafficVerdict::wrongFunction;
    }
    if (result == MBR_REPLY_TIMEOUT && received > 0) return TrafficVerdict::truncated;
    return trafficVerdictOf(result);
}

}  // namespace

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
// While a traffic ring is set, what was discarded is recorded as noise.
int MbusRtuMasterProtocol::waitForSilence(TrafficRing* ring, int slave) {
    const std::int64_t limit =
        DeadlineTimer::nowTicks() + static_cast<std::int64_t>(timeoutMs) * 10000;
    const std::int64_t startUs = ring ? TrafficRing::nowUs() : 0;
    if (ring) replyBytes.clear();
    std::uint8_t discarded = 0;
    int result = MBR_SUCCESS;
    for (;;) {
        const int status = line->read(&discarded, 1, static_cast<int>(silenceMs));
        if (status == SP_TIMEOUT) break;
        if (status != SP_OK) {
            result = MBR_IO_FAILURE;
            break;
        }
        if (ring) replyBytes.add(&discarded, 1);
        if (DeadlineTimer::nowTicks() >= limit) {
            result = MBR_SEND_TIMEOUT;
            break;
        }
    }
    if (ring && replyBytes.length > 0) {
        ring->recordReply(TrafficFraming::rtu, replyBytes.bytes.data(), replyBytes.length, slave,
                          MBR_SUCCESS, TrafficVerdict::noise, startUs);
    }
    return result;
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
    const int silence = waitForSilence(ring, slave);
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
        // The start of a reply cut short, where the channel says how much of it came.
        if (got == SP_TIMEOUT && traffic) replyBytes.add(buffer, line->lastReadCount());
        if (got == SP_OK) return MBR_SUCCESS;
        return got == SP_TIMEOUT ? MBR_REPLY_TIMEOUT : MBR_IO_FAILURE;
    };
    int echoLength = 0;
    const int verdict = receiveRtuReply(fromPort, sent.data(), length, replyLength, echoing,
                                        frame.data(), &echoLength);
    if (ring) {
        // The adapter's echo, passed over, then the reply: frames of their own.
        if (echoLength > 0) {
            ring->recordReply(TrafficFraming::rtu, replyBytes.bytes.data(), echoLength, slave,
                              MBR_SUCCESS, TrafficVerdict::echo, sentUs);
        }
        const std::uint8_t* reply = replyBytes.bytes.data() + echoLength;
        const int received = replyBytes.length - echoLength;
        ring->recordReply(TrafficFraming::rtu, reply, received, slave, verdict,
                          rtuReplyVerdict(verdict, reply, received, slave), sentUs);
    }
    if (verdict != MBR_SUCCESS) return verdict;
    std::memcpy(replyData, frame.data() + 2, static_cast<std::size_t>(replyLength));
    return MBR_SUCCESS;
}

}  // namespace kvx
