#pragma once
// The RTU frame without any port: building a frame and judging a received reply are pure
// functions over byte arrays, shared by the master and usable by a slave or a fuzzer.
//
//   address (0 = broadcast), function (bit 7 set in an exception reply), data..., CRC lo, CRC hi
#include <cstdint>
#include <functional>

namespace kvx {

constexpr int kRtuMaxFrame = 256;  // the largest RTU frame
constexpr int kRtuMaxData = kRtuMaxFrame - 4;
constexpr int kRtuExceptionFrame = 5;  // address, function | 0x80, code, CRC
constexpr std::uint8_t kRtuExceptionBit = 0x80;

// Writes address, function, data[0..length) and the CRC into frame. Returns the frame length
// (length + 4), or 0 when an argument is out of range or the frame would not fit in capacity.
int buildRtuFrame(std::uint8_t* frame, int capacity, int address, int function,
                  const std::uint8_t* data, int length);

// Length of the whole reply once its first two bytes are known: 5 for an exception reply, else
// replyLength + 4 (and never less than 5, the shortest reply).
int rtuReplyFrameLength(const std::uint8_t* frame, int replyLength);

// Judges a received reply to a request of `function` to `slave` that expects replyLength data
// bytes. Bytes beyond the reply's length are not looked at. Returns, in the order checked:
// MBR_REPLY_TIMEOUT when fewer bytes than the reply's length were received, MBR_CRC_MISMATCH,
// MBR_FRAME_MISMATCH (other address, or other function with bit 7 ignored), MBR_EXCEPTION | code
// for an exception reply, else MBR_SUCCESS with the data at frame + 2.
int checkRtuReply(const std::uint8_t* frame, int received, int slave, int function,
                  int replyLength);

// Where the bytes of a reply come from: fills buffer[0..count) and returns MBR_SUCCESS, or
// MBR_REPLY_TIMEOUT when they did not all arrive in time, or MBR_IO_FAILURE.
using RtuByteReader = std::function<int(std::uint8_t* buffer, int count)>;

// Receives and judges the reply to the request frame sent[0..sentLength): the first five bytes,
// then the rest of the length they announce. An RS-485 adapter without echo suppression hands
// the request itself back first; a whole copy of it is passed over where it can be told from
// the reply:
//   - a read (3, 4) whose request is no longer than its reply: a reply's byte count would be
//     the start address's high byte;
//   - Write Multiple Registers (16): its request is longer than the reply it begins like;
//   - Write Single Register (6): request and reply are the same bytes, so only once `echoing`
//     says this adapter has echoed before is the first copy taken for the echo.
// `echoing` is set when an echo is recognised, and *echoLength (where given) to the bytes it
// took, 0 without one. Returns checkRtuReply's verdict on the reply in frame (capacity
// kRtuMaxFrame), or the reader's failure.
int receiveRtuReply(const RtuByteReader& read, const std::uint8_t* sent, int sentLength,
                    int replyLength, bool& echoing, std::uint8_t* frame, int* echoLength = nullptr);

// Inter-frame silence in milliseconds: four characters of 11 bits, rounded up, at least 1.
// 0 for a rate that is not positive.
unsigned rtuSilenceMs(int baudRate);

}  // namespace kvx
