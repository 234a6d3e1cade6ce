#include "link/mbus_tcp_master_protocol.h"

#include <cstring>
#include <utility>

#include "link/result_codes.h"
#include "link/serial_port.h"

namespace kvx {
namespace {

// The verdict on a reply as finely as its bytes tell it: which of transaction, unit and
// function was another, and whether a reply began before the time-out or the close cut it.
TrafficVerdict mbapReplyVerdict(int result, const std::uint8_t* reply, int received,
                                std::uint16_t id, int slave) {
    if (result == MBR_FRAME_MISMATCH && received > kMbapHeaderLength) {
        const unsigned other = static_cast<unsigned>(reply[0]) << 8 | reply[1];
        if (other != id) return TrafficVerdict::mismatch;
        return reply[kMbapHeaderLength - 1] != slave ? TrafficVerdict::wrongSlave
                                                     : TrafficVerdict::wrongFunction;
    }
    if ((result == MBR_REPLY_TIMEOUT || result == MBR_IO_FAILURE) && received > 0) {
        return TrafficVerdict::truncated;
    }
    return trafficVerdictOf(result);
}

}  // namespace

MbusTcpMasterProtocol::~MbusTcpMasterProtocol() {
    closeConnection();
}

int MbusTcpMasterProtocol::isConnected() const {
    return channel && channel->isOpen() ? 1 : 0;
}

void MbusTcpMasterProtocol::closeConnection() {
    if (channel) channel->close();
    channel.reset();
}

int MbusTcpMasterProtocol::attachChannel(std::unique_ptr<ByteChannel> stream) {
    if (isConnected()) return MBR_WRONG_STATE;
    if (!stream || !stream->isOpen()) return MBR_OPEN_FAILED;
    closeConnection();
    channel = std::move(stream);
    sentOnConnection = 0;
    failure.clear();
    return MBR_SUCCESS;
}

int MbusTcpMasterProtocol::exchange(int slave, int function, const std::uint8_t* requestData,
                                    int requestLength, std::uint8_t* replyData, int replyLength) {
    if (!isConnected()) return MBR_WRONG_STATE;
    int remaining = retryCount;
    for (;;) {
        const int result =
            sendAndReceive(slave, function, requestData, requestLength, replyData, replyLength);
        const bool retryable = result == MBR_CRC_MISMATCH || result == MBR_FRAME_MISMATCH ||
                               result == MBR_REPLY_TIMEOUT;
        if (!retryable || remaining <= 0 || !isConnected()) return result;
        --remaining;
    }
}

int MbusTcpMasterProtocol::sendAndReceive(int slave, int function, const std::uint8_t* requestData,
                                          int requestLength, std::uint8_t* replyData,
                                          int replyLength) {
    if (function < 1 || function > 127 || slave < 0 || slave > 255) return MBR_BAD_ARGUMENT;
    if (replyLength > kMbapMaxPdu - 1 || (replyLength > 0 && replyData == nullptr)) {
        return MBR_BAD_ARGUMENT;
    }
    const std::uint16_t id = static_cast<std::uint16_t>(transactionId + 1);
    const int length =
        buildMbapRequest(adu.data(), kMbapMaxAdu, id, slave, function, requestData, requestLength);
    if (length == 0) return MBR_BAD_ARGUMENT;
    if (!isConnected()) return MBR_WRONG_STATE;

    // Whatever is waiting is a late answer to an earlier attempt, or a peer that has gone.
    if (channel->purge() != SP_OK) {
        failure = channel->lastError();
        return MBR_IO_FAILURE;
    }
    if (requestSpacingMs > 0) spacingTimer.wait();
    spacingTimer.setFromNow(requestSpacingMs);

    transactionId = id;
    // One pointer for the whole attempt, tested and nothing more while nobody watches.
    TrafficRing* const ring = traffic;
    const int written = channel->write(adu.data(), length, timeoutMs);
    // The reply's delay counts from here, the request's end.
    std::int64_t sentUs = 0;
    if (ring) {
        const int sendResult = written == SP_OK        ? MBR_SUCCESS
                               : written == SP_TIMEOUT ? MBR_SEND_TIMEOUT
                                                       : MBR_IO_FAILURE;
        sentUs = ring->recordRequest(TrafficFraming::mbap, adu.data(), length, slave, sendResult);
    }
    if (written == SP_TIMEOUT) return MBR_SEND_TIMEOUT;
    if (written != SP_OK) {
        failure = channel->lastError();
        return MBR_IO_FAILURE;
    }
    if (slave == 0 || replyLength <= 0) return MBR_SUCCESS;

    ++sentOnConnection;
    DeadlineTimer replyDeadline;
    replyDeadline.setFromNow(timeoutMs);
    // What the reader below keeps between its calls. The reader captures one pointer, so that it
    // fits in std::function's own storage: a transaction allocates nothing.
    struct ReplyRead {
        ByteChannel* channel;
        int readTimeoutMs;  // for a reply's first byte: what is left of the time-out
        int timeoutMs;
        // The first byte is read on its own, so that a time-out tells a reply that never began
        // from one cut short.
        bool begun = false;
        TrafficCapture* capture;  // null while no ring is set
    } read{channel.get(), timeoutMs, timeoutMs, false, ring ? &replyBytes : nullptr};
    replyBytes.clear();
    const MbapByteReader fromStream = [r = &read](std::uint8_t* buffer, int count) {
        int got = SP_OK;
        if (!r->begun && count > 1) {
            got = r->channel->read(buffer, 1, r->readTimeoutMs);
            if (got == SP_OK) {
                r->begun = true;
                if (r->capture) r->capture->add(buffer, 1);
                got = r->channel->read(buffer + 1, count - 1, r->timeoutMs);
                if (got == SP_OK && r->capture) r->capture->add(buffer + 1, count - 1);
                if (got != SP_OK && r->capture)
                    r->capture->add(buffer + 1, r->channel->lastReadCount());
            }
        } else {
            got = r->channel->read(buffer, count, r->timeoutMs);
            r->begun = r->begun || got == SP_OK;
            if (got == SP_OK && r->capture) r->capture->add(buffer, count);
            // The start of a reply cut short, where the channel says how much of it came.
            if (got != SP_OK && r->capture) r->capture->add(buffer, r->channel->lastReadCount());
        }
        if (got == SP_OK) return MBR_SUCCESS;
        return got == SP_TIMEOUT ? MBR_REPLY_TIMEOUT : MBR_IO_FAILURE;
    };
    int verdict = MBR_REPLY_TIMEOUT;
    int received = 0;
    bool damaged = false;
    for (int skipped = 0;; ++skipped) {
        read.begun = false;
        verdict = receiveMbapReply(fromStream, id, slave, function, replyLength, adu.data(),
                                   received, damaged);
        if (verdict != MBR_FRAME_MISMATCH || skipped >= kMaxLateReplies) break;
        // The answer to an attempt already given up on, arriving late: passed over, and this
        // attempt's own answer waited for in what is left of its time-out. Any other
        // transaction id is a reply to nothing we asked, a mismatch as on a line.
        const unsigned other = static_cast<unsigned>(adu[0]) << 8 | adu[1];
        const unsigned age = (id - other) & 0xFFFFU;
        if (age == 0 || age >= sentOnConnection || age > kMaxLateReplies) break;
        if (ring) {
            ring->recordReply(TrafficFraming::mbap, replyBytes.bytes.data(), replyBytes.length,
                              slave, verdict, TrafficVerdict::passedOver, sentUs);
            replyBytes.clear();
        }
        const std::int64_t left = replyDeadline.remainingMs();
        if (left <= 0) {
            verdict = MBR_REPLY_TIMEOUT;
            break;
        }
        read.readTimeoutMs = static_cast<int>(left);
    }
    // A damaged header, or a frame of which only a part came (a whole one is longer than its
    // header): where the next frame begins is no longer known.
    const bool cutShort =
        verdict == MBR_REPLY_TIMEOUT && read.begun && received <= kMbapHeaderLength;
    if (verdict == MBR_IO_FAILURE) failure = channel->lastError();
    if (damaged) {
        MbapHeader header;
        failure = std::string("a damaged reply (") +
                  mbapStatusText(decodeMbapHeader(adu.data(), kMbapHeaderLength, header)) +
                  "); the connection was closed";
    }
    if (cutShort) failure = "a reply cut short by the time-out; the connection was closed";
    if (ring) {
        ring->recordReply(
            TrafficFraming::mbap, replyBytes.bytes.data(), replyBytes.length, slave, verdict,
            mbapReplyVerdict(verdict, replyBytes.bytes.data(), replyBytes.length, id, slave),
            sentUs);
    }
    if (damaged || cutShort) closeConnection();
    if (verdict != MBR_SUCCESS) return verdict;
    std::memcpy(replyData, adu.data() + kMbapHeaderLength + 1,
                static_cast<std::size_t>(replyLength));
    return MBR_SUCCESS;
}

}  // namespace kvx
