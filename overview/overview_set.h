#pragma once
// A set of log files seen as one time line: the files of a day or any range of hours, their
// summaries, the reduction of a time range to pixel columns and the lookup of the record at a
// moment.
//
// Use:
//   OverviewSet set(OverviewCache::shared());
//   set.setFiles(findLogFiles(folder, from, to, &error));   // or files the user chose
//   set.build(progress, &cancel);        // slow: on a worker thread, with a progress bar
//   // then, on one thread at a time (the GUI thread once build() has returned):
//   OverviewColumns c = set.reduce(from, to, plotWidth);    // fast: every repaint or zoom
//   OverviewLocation at; set.locate(clickTime, at);         // the record to play
// Times are UTC seconds (as records hold them) with a fraction: the records of one second are
// spread across it (see recordPlotTimes), so a zoom can reach single records.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "log/log_format.h"
#include "overview/log_summary.h"
#include "overview/overview_cache.h"

namespace kvx {

// Column flags.
enum : std::uint8_t {
    kColumnData = 1,         // at least one plausible record falls in the column
    kColumnBreakBefore = 2,  // no line joins this column's data to the data before it (a gap
                             // lies between them, or nothing comes before)
    kColumnGap = 4,          // part of a gap lies here (no records for over
                             // kOverviewGapSeconds, or before the first, or after the last)
    kColumnAlarm = 8,        // a record with a non-zero alarm_flags
    kColumnShutdown = 16,    // a record with the local shutoff switch on (the panel's shutoff)
    kColumnDamaged = 32,     // a damaged record lies here
};

// A time range reduced to width pixel columns: column x covers [from + x*step, from +
// (x+1)*step) with step = (to - from) / width, and holds the minimum and maximum of every
// logged field over the plausible records in it, so a one-record spike is never lost.
struct OverviewColumns {
    double from = 0, to = 0;
    int width = 0;
    std::vector<std::uint8_t> flags;     // width entries
    std::vector<std::uint32_t> records;  // plausible records per column
    std::vector<std::int16_t> lows;      // width * kLogValueCount, stored values
    std::vector<std::int16_t> highs;     // width * kLogValueCount
    // The nearest plausible records just outside the range that a line joins to the data in
    // it (no gap between), so a zoomed view draws the line on to its edges.
    bool hasBefore = false, hasAfter = false;
    double beforeTime = 0, afterTime = 0;
    std::array<std::int16_t, kLogValueCount> before{}, after{};

    double step() const { return width > 0 ? (to - from) / width : 0; }
    // The column of a time (may be outside 0..width-1), and a column's start time.
    int columnOf(double time) const;
    double timeOf(int column) const { return from + column * step(); }
    bool hasData(int x) const { return (flags[x] & kColumnData) != 0; }
    std::int16_t low(int x, int field) const { return lows[x * kLogValueCount + field]; }
    std::int16_t high(int x, int field) const { return highs[x * kLogValueCount + field]; }
};

// One file of the set as the user should hear of it.
struct OverviewFile {
    std::string path;
    std::string problem;                        // empty when usable; else why the file is left out
    std::shared_ptr<const LogSummary> summary;  // null when left out
    double firstTime = 0, endTime = 0;          // of its plausible records, as firstTime() and
                                                // endTime() of the set
};

// The record at a moment: which file, which record (the player's index) and its time.
struct OverviewLocation {
    std::string path;
    std::int64_t record = 0;
    std::int32_t time = 0;  // the record's stored time
    double plotTime = 0;    // where it is drawn
};

// The log files of folder named for a local hour that overlaps [from, to) (UTC seconds), in
// time order. Empty with *error when the folder cannot be read ("cannot open folder ...: ..."),
// holds no log file ("... holds no log files (log_<year>_<month>_<day>_<hour>.log)") or none in
// the range ("no log files between ... and ...").
std::vector<std::string> findLogFiles(const std::string& folder, std::int64_t from, std::int64_t to,
                                      std::string* error);

// "2026-12-08", "2026-12-08T13", "2026-12-08T13:30", "2026-12-08 13:30:15" in local time, into
// UTC seconds. False for anything else (or a date that does not exist).
bool parseLocalTime(std::string_view text, std::int64_t& out);

class OverviewSet {
  public:
    explicit OverviewSet(std::shared_ptr<OverviewCache> cache);

    void setFiles(std::vector<std::string> paths);

    // Summarises every file (from the cache where it holds). progress(done, total) is called
    // on this thread after each file; cancel (may be null) is polled, and true stops the build
    // early (returns false; the set then holds what was done). Files that cannot be used are
    // kept in files() with their problem; true when the build ran to the end, even if no
    // file was usable (see usableCount()).
    bool build(const std::function<void(std::size_t done, std::size_t total)>& progress = {},
               const std::atomic<bool>* cancel = nullptr);

    const std::vector<OverviewFile>& files() const { return files_; }
    std::size_t usableCount() const;
    // The span of all usable files: the first plausible record's time, and the end of the
    // second of the last one (0, 0 when no file is usable). A whole-range view is
    // reduce(firstTime(), endTime(), width).
    double firstTime() const;
    double endTime() const;

    // The range [from, to) in width columns. width < 1 or to <= from gives no columns.
    OverviewColumns reduce(double from, double to, int width) const;

    // The record to play for a click at time: the plausible record drawn last at or before it,
    // in whichever file holds it (an hour's file may hold the first records of the next hour);
    // but for a moment before anything drawn in its hour, when that hour has a file, that
    // file's first record. False when no file is usable or time lies before every record.
    bool locate(double time, OverviewLocation& out) const;

    // The plausible records drawn within [from, to), in time order, with their plot times (for
    // an export of the records in view). False when a file could not be read again.
    bool forEachRecord(double from, double to,
                       const std::function<void(const LogRecord&, double plotTime)>& visit) const;

  private:
    std::shared_ptr<OverviewCache> cache_;
    std::vector<OverviewFile> files_;
    std::vector<std::size_t> order_;  // the usable files by first time
};

}  // namespace kvx
