#include "link/mbap_frame.h"

#include <cstring>

#include "link/result_codes.h"

namespace kvx {
namespace {

unsigned word(const std::uint8_t* at) {
    return (static_cast<unsigned>(at[0]) << 8) | at[1];
}

void putWord(std::uint8_t* at, unsigned value) {
    at[0] = static_cast<std::uint8_t>((value >> 8) & 0xFFU);
    at[1] = static_cast<std::uint8_t>(value & 0xFFU);
}

void putHeader(std::uint8_t* adu, std::uint16_t transactionId, int unitId, int pduLength) {
    putWord(adu, transactionId);
    putWord(adu + 2, 0);
    putWord(adu + 4, static_cast<unsigned>(pduLength + 1));
    adu[6] = static_cast<std::uint8_t>(unitId);
}

}  // namespace

const char* mbapStatusText(MbapStatus status) {
    switch (status) {
        case MbapStatus::Ok:
            return "a good MBAP frame";
        case MbapStatus::Incomplete:
            return "the MBAP frame is incomplete";
        case MbapStatus::BadProtocolId:
            return "the MBAP protocol id is not 0 (Modbus)";
        case MbapStatus::LengthTooShort:
            return "the MBAP length is below 2 (unit id and function code)";
        case MbapStatus::LengthTooLong:
            return "the MBAP length is over 254 (a PDU over 253 bytes)";
        case MbapStatus::LengthDisagrees:
            return "the MBAP length disagrees with the bytes received";
    }
    return "an unknown MBAP status";
}

MbapStatus decodeMbapHeader(const std::uint8_t* bytes, int count, MbapHeader& header) {
    header = MbapHeader{};
    if (bytes == nullptr || count < kMbapHeaderLength) return MbapStatus::Incomplete;
    header.transactionId = static_cast<std::uint16_t>(word(bytes));
    header.protocolId = static_cast<std::uint16_t>(word(bytes + 2));
    header.length = static_cast<std::uint16_t>(word(bytes + 4));
    header.unitId = bytes[6];
    if (header.protocolId != 0) return MbapStatus::BadProtocolId;
    if (header.length < kMbapMinLengthField) return MbapStatus::LengthTooShort;
    if (header.length > kMbapMaxLengthField) return MbapStatus::LengthTooLong;
    return MbapStatus::Ok;
}

MbapStatus decodeMbapAdu(const std::uint8_t* bytes, int count, MbapHeader& header) {
    const MbapStatus status = decodeMbapHeader(bytes, count, header);
    if (status != MbapStatus::Ok) return status;
    if (count < header.aduLength()) return MbapStatus::Incomplete;
    if (count > header.aduLength()) return MbapStatus::LengthDisagrees;
    return MbapStatus::Ok;
}

int buildMbapRequest(std::uint8_t* adu, int capacity, std::uint16_t transactionId, int unitId,
                     int function, const std::uint8_t* data, int length) {
    if (adu == nullptr || unitId < 0 || unitId > 255 || function < 0 || function > 255 ||
        length < 0 || length > kMbapMaxPdu - 1 || (length > 0 && data == nullptr) ||
        length + kMbapHeaderLength + 1 > capacity) {
        return 0;
    }
    putHeader(adu, transactionId, unitId, length + 1);
    adu[kMbapHeaderLength] = static_cast<std::uint8_t>(function);
    if (length > 0)
        std::memcpy(adu + kMbapHeaderLength + 1, data, static_cast<std::size_t>(length));
    return length + kMbapHeaderLength + 1;
}

int buildMbapReply(std::uint8_t* adu, int capacity, const MbapHeader& request,
                   const std::uint8_t* pdu, int pduLength) {
    if (adu == nullptr || pdu == nullptr || pduLength < 1 || pduLength > kMbapMaxPdu ||
        pduLength + kMbapHeaderLength > capacity) {
        return 0;
    }
    putHeader(adu, request.transactionId, request.unitId, pduLength);
    std::memmove(adu + kMbapHeaderLength, pdu, static_cast<std::size_t>(pduLength));
    return pduLength + kMbapHeaderLength;
}

int checkMbapReply(const std::uint8_t* adu, int received, std::uint16_t transactionId, int unitId,
                   int function, int replyLength) {
    if (adu == nullptr || received < kMbapHeaderLength) return MBR_REPLY_TIMEOUT;
    MbapHeader header;
    if (decodeMbapHeader(adu, received, header) != MbapStatus::Ok) return MBR_CRC_MISMATCH;
    if (received < header.aduLength()) return MBR_REPLY_TIMEOUT;
    const std::uint8_t replyFunction = adu[kMbapHeaderLength];
    if (header.transactionId != transactionId || header.unitId != unitId ||
        (replyFunction & 0x7F) != function) {
        return MBR_FRAME_MISMATCH;
    }
    if ((replyFunction & 0x80) != 0) {
        if (header.pduLength() != 2) return MBR_REPLY_MISMATCH;
        const int code = adu[kMbapHeaderLength + 1];
        if (code == kGatewayPathUnavailable || code == kGatewayTargetFailedToRespond) {
            return MBR_REPLY_TIMEOUT;
        }
        return MBR_EXCEPTION | code;
    }
    if (header.pduLength() != replyLength + 1) return MBR_REPLY_MISMATCH;
    return MBR_SUCCESS;
}

int receiveMbapReply(const MbapByteReader& read, std::uint16_t transactionId, int unitId,
                     int function, int replyLength, std::uint8_t* adu, int& received,
                     bool& damaged) {
    received = 0;
    damaged = false;
    int status = read(adu, kMbapHeaderLength);
    if (status != MBR_SUCCESS) return status;
    received = kMbapHeaderLength;
    MbapHeader header;
    if (decodeMbapHeader(adu, received, header) != MbapStatus::Ok) {
        damaged = true;
        return MBR_CRC_MISMATCH;
    }
    status = read(adu + kMbapHeaderLength, header.pduLength());
    if (status != MBR_SUCCESS) return status;
    received = header.aduLength();
    return checkMbapReply(adu, received, transactionId, unitId, function, replyLength);
}

}  // namespace kvx
