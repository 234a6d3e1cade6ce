#pragma once
// The summary of one log file: its records in buckets of about kSummaryBucketRecords, each
// with the minimum and maximum of every logged field over the bucket's plausible records, its
// first and last record time and how many of its records are damaged. A day of 432,000 records
// becomes some 13,500 buckets, a few percent of the log's size, from which any time range
// reduces to pixel columns without reading the log again; only a view finer than a bucket reads
// the records themselves.
//
// Buckets never span a gap (kOverviewGapSeconds without records) nor a step back in time, and
// end only between whole seconds, so the records of one second are always in one bucket (they
// are spread evenly across that second when drawn: see recordPlotTime).
//
// A damaged record is one log/log_record_check.h calls implausible, judged as kvx-log judges
// it: against the hour of the file name unless no record falls in that hour (a renamed file, or
// one from another time zone). It counts in its bucket but is in no minimum or maximum.
//
// The summary is built by summariseLogFile and kept in a cache file (see overview_cache.h);
// readSummary checks a cache file strictly, since it is outside bytes.
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "log/log_file_name.h"
#include "log/log_format.h"

namespace kvx {

// A stretch longer than this without records is a gap: nothing is drawn across it. Records are
// stamped in whole seconds from polls every 200 ms; a slow tick may take a second or two.
inline constexpr int kOverviewGapSeconds = 5;

// Records per bucket (a bucket ends at the first new second after this many).
inline constexpr int kSummaryBucketRecords = 32;

struct SummaryBucket {
    std::uint32_t firstRecord = 0;  // index of the bucket's first record in the file
    std::uint16_t count = 0;        // records in the bucket, damaged ones included
    std::uint16_t damaged = 0;      // of those, how many are damaged
    std::int32_t firstTime = 0;     // time of the first plausible record (valid() only)
    std::int32_t lastTime = 0;      // time of the last plausible record (valid() only)
    std::array<std::int16_t, kLogValueCount> low{};   // per field, plausible records only
    std::array<std::int16_t, kLogValueCount> high{};  // per field, plausible records only

    bool valid() const { return damaged < count; }  // holds at least one plausible record
    bool operator==(const SummaryBucket&) const = default;
};

struct LogSummary {
    std::string source;  // the log file's path (absolute when it comes from the cache)
    // The log file as it was summarised: the summary holds while both still match.
    std::int64_t fileSize = 0;
    std::int64_t mtimeNs = 0;  // modification time, nanoseconds since 1970
    int headerSize = 0;        // 0 or kLogHeaderSize
    std::int64_t recordCount = 0;
    std::int64_t trailingBytes = 0;  // of a partial record at the end (ignored)
    std::int64_t damagedCount = 0;
    // Records were judged against the hour of the file name (false: the name is not a log
    // name, or no record fell in its hour).
    bool checkedAgainstHour = false;
    std::vector<SummaryBucket> buckets;

    bool operator==(const LogSummary&) const = default;
};

// Tells damaged records from plausible ones as kvx-log does, for the records of one file:
// isPlausibleLogRecord against the hour of the file's name when useHour, else without it. Fast
// over a file's records in turn: the test against the hour, which breaks times down into local
// time, is asked only near the ends of the span of times already found near the hour.
class DamageJudge {
  public:
    DamageJudge(const std::string& path, bool useHour);
    bool plausible(const LogRecord& record);
    // Without the hour (a time from 1980 and 16-bit values): the first half of the judgement.
    static bool plausibleAnyway(const LogRecord& record);
    // The hour half alone; false without a named hour.
    bool nearHour(std::int32_t time);
    bool named() const { return named_; }

  private:
    LogFileHour hour_;
    bool named_ = false;
    bool useHour_ = false;
    // Times known near the hour [nearLow, nearHigh] and known not to be: the times near an
    // hour are one unbroken stretch, so anything between two near times is near too.
    std::int64_t nearLow_ = 1, nearHigh_ = 0;
    std::int64_t farBelow_ = INT64_MIN, farAbove_ = INT64_MAX;
    bool haveLast_ = false, lastNear_ = false;
    std::int64_t lastTime_ = 0;
};

// Reads the log at path and summarises it. False with *error ("cannot open: ...", "is a
// directory", "not a KVX log file: ...", "damaged: no readable record ...") when the file
// cannot be used at all; a file with some damaged records or a partial last record is
// summarised. cancel (when given) is polled; true stops the work and returns false with *error
// "cancelled".
bool summariseLogFile(const std::string& path, LogSummary& out, std::string* error,
                      const std::atomic<bool>* cancel = nullptr);

// The summary file's bytes, and back. parseSummary accepts only what serialiseSummary makes:
// any other byte string (cut, altered, another version) returns false, never a half summary.
std::string serialiseSummary(const LogSummary& summary);
bool parseSummary(const std::uint8_t* data, std::size_t size, LogSummary& out);

// Where each of records[0..count) is drawn: its time, plus for records sharing one second
// rank / (records in that second), so the five records of a second at 200 ms polling sit
// 0.2 s apart. plausible[i] false (a damaged record) takes the plot time of the plausible
// record before it (or after it, at the start). records must be one whole bucket or more.
void recordPlotTimes(const LogRecord* records, const bool* plausible, std::size_t count,
                     double* out);

}  // namespace kvx
