#include "sim/modbus_slave.h"

#include "link/crc16.h"

namespace kvx::sim {
namespace {

int be16(const std::uint8_t* p) {
    return p[0] << 8 | p[1];
}

void put16(std::vector<std::uint8_t>& out, int v) {
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

void finish(std::vector<std::uint8_t>& reply) {
    const std::size_t length = reply.size();
    reply.resize(length + 2);
    appendCrc16(reply.data(), length);
}

}  // namespace

void exceptionReply(std::uint8_t address, std::uint8_t function, std::uint8_t code,
                    std::vector<std::uint8_t>& reply) {
    reply.assign({address, static_cast<std::uint8_t>(function | 0x80), code});
    finish(reply);
}

SlaveOutcome ModbusSlave::handle(const std::uint8_t* frame, std::size_t size,
                                 std::int64_t elapsedMs, std::vector<std::uint8_t>& reply) {
    reply.clear();
    if (size < 4 || !crc16Matches(frame, size)) return SlaveOutcome::badCrc;
    const int address = frame[0];
    if (address != 0 && address != engine_.slaveAddress()) return SlaveOutcome::otherAddress;
    const int code = process(frame, size, elapsedMs, reply);
    if (address == 0) {
        reply.clear();
        return SlaveOutcome::broadcast;
    }
    if (code != 0) exceptionReply(frame[0], frame[1], static_cast<std::uint8_t>(code), reply);
    return SlaveOutcome::replied;
}

int ModbusSlave::process(const std::uint8_t* frame, std::size_t size, std::int64_t elapsedMs,
                         std::vector<std::uint8_t>& reply) {
    const std::uint8_t function = frame[1];
    const std::size_t data = size - 4;  // bytes between the function code and the CRC
    reply.assign({frame[0], function});
    switch (function) {
        case 3:
        case 4: {
            if (frame[0] == 0) return 0;  // a broadcast read has nobody to answer to
            if (data != 4) return kIllegalValue;
            const int first = be16(frame + 2) + 1;
            const int count = be16(frame + 4);
            if (count < 1 || count > 125) return kIllegalValue;
            const int rc = function == 3 ? engine_.readHolding(first, count, values_, elapsedMs)
                                         : engine_.readInput(first, count, values_, elapsedMs);
            if (rc != 0) return rc;
            reply.push_back(static_cast<std::uint8_t>(2 * count));
            for (int i = 0; i < count; ++i)
                put16(reply, static_cast<std::uint16_t>(values_[i]));
            break;
        }
        case 6: {
            if (data != 4) return kIllegalValue;
            const std::int16_t value = static_cast<std::int16_t>(be16(frame + 4));
            const int rc = engine_.writeHolding(be16(frame + 2) + 1, &value, 1, elapsedMs);
            if (rc != 0) return rc;
            reply.assign(frame, frame + 6);  // the echo
            break;
        }
        case 16: {
            if (data < 5) return kIllegalValue;
            const int count = be16(frame + 4);
            const int bytes = frame[6];
            if (count < 1 || count > 123 || bytes != 2 * count ||
                data != static_cast<std::size_t>(5 + bytes))
                return kIllegalValue;
            for (int i = 0; i < count; ++i)
                values_[i] = static_cast<std::int16_t>(be16(frame + 7 + 2 * i));
            const int rc = engine_.writeHolding(be16(frame + 2) + 1, values_, count, elapsedMs);
            if (rc != 0) return rc;
            reply.assign(frame, frame + 6);  // address, function, start, quantity
            break;
        }
        default:
            return kIllegalFunction;
    }
    finish(reply);
    return 0;
}

}  // namespace kvx::sim
