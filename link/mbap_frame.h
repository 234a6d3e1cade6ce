#pragma once
// The MBAP frame (Modbus over TCP) without any socket: building a request or a reply, decoding
// and judging a received header and frame are pure functions over byte arrays, shared by the
// master, the simulator's server and the fuzzers.
//
//   transaction id (2), protocol id (2, always 0), length (2: unit id + PDU), unit id, PDU
//
// All words big-endian. There is no CRC: TCP carries the bytes intact, so the header's own
// consistency is the only check a receiver has, and it has no other way to find where a frame
// ends.
#include <cstdint>
#include <functional>

namespace kvx {

constexpr int kMbapHeaderLength = 7;    // transaction id, protocol id, length, unit id
constexpr int kMbapMaxPdu = 253;        // function code and data, as in a serial frame
constexpr int kMbapMinLengthField = 2;  // unit id and a function code
constexpr int kMbapMaxLengthField = kMbapMaxPdu + 1;          // unit id and the largest PDU
constexpr int kMbapMaxAdu = kMbapHeaderLength + kMbapMaxPdu;  // 260

// What a decoder found, in the order it checks.
enum class MbapStatus {
    Ok,
    Incomplete,       // fewer bytes than the header, or than the length it announces
    BadProtocolId,    // not 0 (Modbus)
    LengthTooShort,   // below 2: no room for a function code
    LengthTooLong,    // above 254: a PDU over 253 bytes
    LengthDisagrees,  // a whole frame whose byte count is not 6 + length
};

// A short English reason, e.g. "MBAP length 300 is over 254".
const char* mbapStatusText(MbapStatus status);

struct MbapHeader {
    std::uint16_t transactionId = 0;
    std::uint16_t protocolId = 0;
    std::uint16_t length = 0;  // unit id + PDU
    std::uint8_t unitId = 0;

    int pduLength() const { return length - 1; }
    int aduLength() const { return kMbapHeaderLength - 1 + length; }
};

// Decodes bytes[0..7) into header (filled even when a check fails, so a caller can report the
// values) and checks protocol id and length. Bytes after the header are not looked at: on a
// stream, the length is what says how many bytes to read next.
MbapStatus decodeMbapHeader(const std::uint8_t* bytes, int count, MbapHeader& header);

// Decodes a frame that arrived as one whole piece (a fuzzer's input, a test's datagram): the
// header's checks, then Incomplete when fewer than aduLength() bytes are there and
// LengthDisagrees when more are. A stream receiver never sees LengthDisagrees: it reads exactly
// the length announced, and any bytes after it are the start of the next frame; when fewer
// arrive the frame is incomplete (a time-out, or a closed connection).
MbapStatus decodeMbapAdu(const std::uint8_t* bytes, int count, MbapHeader& header);

// Writes the header and the PDU (function, data[0..length)) into adu. Returns the ADU length
// (length + 8), or 0 when an argument is out of range or the frame would not fit in capacity.
int buildMbapRequest(std::uint8_t* adu, int capacity, std::uint16_t transactionId, int unitId,
                     int function, const std::uint8_t* data, int length);

// A slave's reply to `request`: its transaction id and unit id, then pdu[0..pduLength) (function
// code first). Returns the ADU length, or 0 when the PDU is empty, over 253 bytes or does not fit.
int buildMbapReply(std::uint8_t* adu, int capacity, const MbapHeader& request,
                   const std::uint8_t* pdu, int pduLength);

// Judges a received reply frame adu[0..received) to a request of `function` with transaction id
// `transactionId` to unit `unitId` that expects replyLength data bytes after the function code.
// Returns, in the order checked:
//   MBR_CRC_MISMATCH     the header is bad (protocol id, length): a damaged frame, which is
//                        what a CRC mismatch means on a line;
//   MBR_REPLY_TIMEOUT    fewer bytes than the header announces;
//   MBR_FRAME_MISMATCH   another transaction id, unit id or function (bit 7 ignored), as a
//                        reply from another slave on a line;
//   MBR_REPLY_TIMEOUT    a gateway's exception 10 (no path) or 11 (the target did not
//                        respond): the gateway saying there was no reply, which on a line is
//                        the time-out, so the caller's count of bad ticks and its reconnect
//                        work the same;
//   MBR_EXCEPTION | code any other exception reply;
//   MBR_REPLY_MISMATCH   a well-formed frame whose PDU length is not what the request expects
//                        (or an exception reply that is not 2 bytes);
//   MBR_SUCCESS          the data at adu + 8.
int checkMbapReply(const std::uint8_t* adu, int received, std::uint16_t transactionId, int unitId,
                   int function, int replyLength);

constexpr int kGatewayPathUnavailable = 10;
constexpr int kGatewayTargetFailedToRespond = 11;

// Where the bytes of a reply come from: fills buffer[0..count) and returns MBR_SUCCESS, or
// MBR_REPLY_TIMEOUT when they did not all arrive in time, or MBR_IO_FAILURE.
using MbapByteReader = std::function<int(std::uint8_t* buffer, int count)>;

// Receives one frame (the header, then the length it announces) into adu (capacity
// kMbapMaxAdu) and judges it with checkMbapReply. `received` is set to the bytes taken. A header
// that fails its checks is judged without reading further: `damaged` is set, and the stream
// has lost its frame boundaries (the caller closes it).
int receiveMbapReply(const MbapByteReader& read, std::uint16_t transactionId, int unitId,
                     int function, int replyLength, std::uint8_t* adu, int& received,
                     bool& damaged);

}  // namespace kvx
