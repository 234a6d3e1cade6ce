#pragma once
// Log records as comma-separated text for spreadsheets (and, through log_record_check.h, the
// check that tells a log record from bytes that are not one).
#include <cstdint>
#include <string>

#include "log/log_format.h"
#include "log/log_record_check.h"

namespace kvx {

// Decimal places of each logged field in engineering units (0 for plain integers): the
// factor by which the stored value exceeds the engineering value is 10^places.
extern const int kLogFieldDecimals[kLogValueCount];

// "time," followed by the 20 logged field names, and a line end.
std::string csvHeaderRow();

// Appends one row and its line end: the local ISO 8601 time, then the values in engineering
// units with fixed decimals (exact, so they convert back), or as stored when raw.
void appendCsvRow(const LogRecord& record, bool raw, std::string& out);

// "2014-05-24T13:00:00+02:00" in the process's time zone.
std::string formatLocalIsoTime(std::int64_t calendarTime);

// value / 10^places with exactly that many decimals, "-0.5" for -5 in tenths.
void appendScaled(std::int32_t value, int places, std::string& out);

}  // namespace kvx
