#pragma once
// Result codes of the log writer and reader: 0 is success, callers test against it.

namespace kvx {

inline constexpr int LOG_OK = 0;
inline constexpr int LOG_NOT_OPEN = 1;      // no log file is open; the record was not taken
inline constexpr int LOG_OPEN_FAILED = 2;   // the file could not be opened (see errno)
inline constexpr int LOG_NOT_REGULAR = 3;   // the path names a directory, pipe or device
inline constexpr int LOG_WRITE_FAILED = 4;  // a write failed; unwritten records are kept
inline constexpr int LOG_RECORD_LOST = 5;   // records could not be written and were dropped
inline constexpr int LOG_READ_FAILED = 6;   // reading the file failed or it ended early
inline constexpr int LOG_BAD_INDEX = 7;     // no record with that index
inline constexpr int LOG_BAD_REQUEST = 8;   // request kind other than 0, 1, 2
inline constexpr int LOG_NO_RECORDS = 9;    // the file holds no whole record

}  // namespace kvx
