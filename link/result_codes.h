#pragma once
// Result codes of every device-link call; 0 is success. Screens word their own messages.

namespace kvx {

constexpr int MBR_SUCCESS = 0;           // done; for a broadcast, the request was sent
constexpr int MBR_BAD_ARGUMENT = 1;      // argument out of range, or the port refused the settings
constexpr int MBR_WRONG_STATE = 2;       // transaction while closed, or open/setting while open
constexpr int MBR_IO_FAILURE = 65;       // the channel failed other than by time-out
constexpr int MBR_OPEN_FAILED = 66;      // the port does not exist or could not be opened
constexpr int MBR_PORT_BUSY = 67;        // the port is held by another program
constexpr int MBR_CRC_MISMATCH = 129;    // the reply's CRC is wrong
constexpr int MBR_FRAME_MISMATCH = 130;  // the reply is from another slave or for another function
constexpr int MBR_REPLY_MISMATCH = 131;  // well formed, but not an answer to the request
constexpr int MBR_REPLY_TIMEOUT = 132;   // the reply did not arrive complete in time
constexpr int MBR_SEND_TIMEOUT = 133;    // the request could not be written in time
constexpr int MBR_EXCEPTION = 160;       // OR the slave's exception code: 161, 162, 163, 164, ...

constexpr int mbrException(int exceptionCode) {
    return MBR_EXCEPTION | exceptionCode;
}

}  // namespace kvx
