#include "overview/overview_set.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "log/log_clock.h"
#include "log/log_csv.h"
#include "log/log_file_name.h"
#include "log/log_reader.h"

namespace kvx {

int OverviewColumns::columnOf(double time) const {
    const double s = step();
    if (s <= 0) return 0;
    // A microsecond's grace: a column's start time, computed as from + x * step, is in column
    // x even where rounding a calendar time (some 1e-7 s) puts it just below.
    const double q = std::floor((time - from + 1e-6) / s);
    // Far outside the range: clamp before the conversion, which would overflow.
    return static_cast<int>(std::clamp(q, -1.0, static_cast<double>(width)));
}

namespace {

// The UTC time of a local date and time; false when it does not exist (mktime normalises
// 31 February into March: such a date is refused by comparing back).
bool localToUtc(int year, int month, int day, int hour, int minute, int second, std::int64_t& out) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) && !(year == 1969 && month == 12 && day == 31))
        return false;
    if (tm.tm_year != year - 1900 || tm.tm_mon != month - 1 || tm.tm_mday != day) return false;
    out = static_cast<std::int64_t>(t);
    return true;
}

bool digits(std::string_view text, std::size_t at, std::size_t n, int& out) {
    if (at + n > text.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

std::string localText(std::int64_t t) {
    LocalDateTime l;
    if (!localDateTime(t, l)) return std::to_string(t);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", l.year, l.month, l.day, l.hour,
                  l.minute);
    return text;
}

// The UTC span of a log file's local hour: [start, start + 3600), a little wider around a
// change of the clocks (the caller only compares).
bool hourSpan(const LogFileHour& h, std::int64_t& start, std::int64_t& end) {
    if (!localToUtc(h.year, h.month, h.day, h.hour, 0, 0, start)) return false;
    end = start + 3600;
    return true;
}

std::string joinPath(const std::string& folder, const char* name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The reader of the file being reduced: one file open at a time, however many the set holds
// (a view of months touches thousands).
struct FileReaders {
    // The reader of file i, opened at first use; null when it cannot be opened.
    const LogReader* get(std::size_t i, const std::string& path) {
        if (i != current) {
            current = i;
            reader.open(path);
        }
        return reader.isOpen() ? &reader : nullptr;
    }
    LogReader reader;
    std::size_t current = static_cast<std::size_t>(-1);
};

// The records of one bucket with their verdicts and plot times.
struct BucketRecords {
    std::vector<LogRecord> records;
    std::vector<char> plausible;  // bool, but addressable
    std::vector<double> times;

    bool read(const LogReader* reader, const LogSummary& s, const SummaryBucket& b,
              DamageJudge& judge) {
        records.resize(b.count);
        plausible.resize(b.count);
        times.resize(b.count);
        if (!reader || reader->readRecords(b.firstRecord, b.count, records.data()) != b.count)
            return false;
        (void)s;
        for (std::size_t k = 0; k < b.count; ++k)
            plausible[k] = judge.plausible(records[k]);
        recordPlotTimes(records.data(), reinterpret_cast<const bool*>(plausible.data()), b.count,
                        times.data());
        return true;
    }
};

void merge(OverviewColumns& c, int x, const std::int16_t* low, const std::int16_t* high,
           std::uint32_t records) {
    std::int16_t* lo = &c.lows[static_cast<std::size_t>(x) * kLogValueCount];
    std::int16_t* hi = &c.highs[static_cast<std::size_t>(x) * kLogValueCount];
    if (!(c.flags[x] & kColumnData)) {
        std::copy(low, low + kLogValueCount, lo);
        std::copy(high, high + kLogValueCount, hi);
        c.flags[x] |= kColumnData;
    } else {
        for (int f = 0; f < kLogValueCount; ++f) {
            lo[f] = std::min(lo[f], low[f]);
            hi[f] = std::max(hi[f], high[f]);
        }
    }
    c.records[x] += records;
    // The alarm word and the local shutoff switch, as the panel's status line reads them.
    constexpr int kAlarmField = 8, kShutoffField = 6;
    if (low[kAlarmField] != 0 || high[kAlarmField] != 0) c.flags[x] |= kColumnAlarm;
    if (low[kShutoffField] != 0 || high[kShutoffField] != 0) c.flags[x] |= kColumnShutdown;
}

}  // namespace

std::vector<std::string> findLogFiles(const std::string& folder, std::int64_t from, std::int64_t to,
                                      std::string* error) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (error) *error = "cannot open folder " + folder + ": " + std::strerror(errno);
        return {};
    }
    struct Found {
        std::int64_t start;
        std::string path;
    };
    std::vector<Found> found;
    bool anyLog = false;
    while (const dirent* entry = ::readdir(dir)) {
        LogFileHour hour;
        if (!parseLogFileName(entry->d_name, hour)) continue;
        std::int64_t start = 0, end = 0;
        if (!hourSpan(hour, start, end)) continue;
        anyLog = true;
        if (end > from && start < to) found.push_back({start, joinPath(folder, entry->d_name)});
    }
    ::closedir(dir);
    if (!anyLog) {
        if (error) *error = folder + " holds no log files (log_<year>_<month>_<day>_<hour>.log)";
        return {};
    }
    if (found.empty()) {
        if (error) *error = "no log files between " + localText(from) + " and " + localText(to);
        return {};
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.start != b.start ? a.start < b.start : a.path < b.path;
    });
    std::vector<std::string> paths;
    for (Found& f : found)
        paths.push_back(std::move(f.path));
    return paths;
}

bool parseLocalTime(std::string_view text, std::int64_t& out) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' ||
        !digits(text, 5, 2, month) || text[7] != '-' || !digits(text, 8, 2, day))
        return false;
    if (text.size() > 10) {
        if ((text[10] != 'T' && text[10] != ' ') || !digits(text, 11, 2, hour)) return false;
        std::size_t at = 13;
        if (text.size() > at) {
            if (text[at] != ':' || !digits(text, at + 1, 2, minute)) return false;
            at += 3;
            if (text.size() > at) {
                if (text[at] != ':' || !digits(text, at + 1, 2, second)) return false;
                at += 3;
            }
        }
        if (text.size() != at) return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return false;
    return localToUtc(year, month, day, hour, minute, second, out);
}

OverviewSet::OverviewSet(std::shared_ptr<OverviewCache> cache) : cache_(std::move(cache)) {
    if (!cache_) cache_ = std::make_shared<OverviewCache>(std::string());
}

void OverviewSet::setFiles(std::vector<std::string> paths) {
    files_.clear();
    order_.clear();
    for (std::string& p : paths) {
        OverviewFile f;
        f.path = std::move(p);
        files_.push_back(std::move(f));
    }
}

bool OverviewSet::build(const std::function<void(std::size_t, std::size_t)>& progress,
                        const std::atomic<bool>* cancel) {
    order_.clear();
    bool finished = true;
    for (std::size_t i = 0; i < files_.size(); ++i) {
        OverviewFile& f = files_[i];
        if (cancel && cancel->load()) {
            finished = false;
            break;
        }
        if (!f.summary) {
            std::string why;
            f.summary = cache_->get(f.path, &why, cancel);
            if (!f.summary) {
                if (cancel && cancel->load()) {
                    finished = false;
                    break;
                }
                f.problem = why;
            }
        }
        if (f.summary) {
            bool any = false;
            for (const SummaryBucket& b : f.summary->buckets) {
                if (!b.valid()) continue;
                f.firstTime = any ? std::min<double>(f.firstTime, b.firstTime) : b.firstTime;
                f.endTime = any ? std::max<double>(f.endTime, b.lastTime + 1.0) : b.lastTime + 1.0;
                any = true;
            }
            if (!any) {
                f.problem = "holds no records";
                f.summary = nullptr;
            } else {
                f.problem.clear();
            }
        }
        if (progress) progress(i + 1, files_.size());
    }
    for (std::size_t i = 0; i < files_.size(); ++i)
        if (files_[i].summary) order_.push_back(i);
    std::stable_sort(order_.begin(), order_.end(), [this](std::size_t a, std::size_t b) {
        return files_[a].firstTime < files_[b].firstTime;
    });
    return finished;
}

std::size_t OverviewSet::usableCount() const {
    return order_.size();
}

double OverviewSet::firstTime() const {
    double t = 0;
    bool any = false;
    for (const std::size_t i : order_) {
        t = any ? std::min(t, files_[i].firstTime) : files_[i].firstTime;
        any = true;
    }
    return t;
}

double OverviewSet::endTime() const {
    double t = 0;
    bool any = false;
    for (const std::size_t i : order_) {
        t = any ? std::max(t, files_[i].endTime) : files_[i].endTime;
        any = true;
    }
    return t;
}

OverviewColumns OverviewSet::reduce(double from, double to, int width) const {
    OverviewColumns c;
    c.from = from;
    c.to = to;
    c.width = width > 0 && to > from && std::isfinite(from) && std::isfinite(to) ? width : 0;
    const std::size_t w = static_cast<std::size_t>(c.width);
    c.flags.assign(w, 0);
    c.records.assign(w, 0);
    c.lows.assign(w * kLogValueCount, 0);
    c.highs.assign(w * kLogValueCount, 0);
    if (c.width == 0) return c;

    const double step = c.step();
    // The columns [first, last] that the time span (a, b) touches, clipped to the range.
    auto touched = [&](double a, double b, int& first, int& last) {
        const double qa = std::floor((a - from) / step);
        const double qb = std::ceil((b - from) / step) - 1;
        first = static_cast<int>(std::clamp(qa, 0.0, static_cast<double>(c.width)));
        last = static_cast<int>(std::clamp(qb, -1.0, static_cast<double>(c.width - 1)));
    };
    auto markGap = [&](double a, double b) {
        int first = 0, last = -1;
        touched(a, b, first, last);
        for (int x = first; x <= last; ++x)
            c.flags[x] |= kColumnGap;
    };
    auto inRange = [&](int x) { return x >= 0 && x < c.width; };

    FileReaders readers;
    BucketRecords raw;

    // The valid bucket before the current one, in file order with the files in time order.
    struct Prev {
        std::size_t file = 0;
        const SummaryBucket* bucket = nullptr;
    } prev;
    bool pendingDamage = false;  // damaged records before any plausible one
    bool afterFound = false;

    for (const std::size_t fi : order_) {
        const OverviewFile& file = files_[fi];
        const LogSummary& s = *file.summary;
        // A file wholly before the range counts only through its last valid bucket (for the
        // gap or line at the left edge); one wholly after, only through its first.
        const bool before = file.endTime <= from;
        // Past the range: only a file that starts within it can still add to it (files may
        // overlap in time: a copy of another unit's log in the same folder).
        if (afterFound && file.firstTime >= to) break;
        DamageJudge judge(file.path, s.checkedAgainstHour);
        std::size_t firstBucket = 0;
        if (before) {
            for (std::size_t k = s.buckets.size(); k-- > 0;) {
                if (s.buckets[k].valid()) {
                    firstBucket = k;
                    break;
                }
            }
        }
        for (std::size_t k = firstBucket; k < s.buckets.size(); ++k) {
            const SummaryBucket& b = s.buckets[k];
            if (!b.valid()) {
                if (prev.bucket) {
                    const int x = c.columnOf(prev.bucket->lastTime);
                    if (inRange(x) && prev.bucket->lastTime + 1.0 > from)
                        c.flags[x] |= kColumnDamaged;
                } else {
                    pendingDamage = true;
                }
                continue;
            }
            const double start = b.firstTime, end = b.lastTime + 1.0;
            bool joined = false;
            if (prev.bucket) {
                const std::int64_t stepBack =
                    static_cast<std::int64_t>(b.firstTime) - prev.bucket->lastTime;
                joined = stepBack >= 0 && stepBack <= kOverviewGapSeconds;
                if (!joined) markGap(prev.bucket->lastTime + 1.0, start);
            } else {
                markGap(from - step, start);
            }
            const int c0 = c.columnOf(start);
            if (!joined && inRange(c0)) c.flags[c0] |= kColumnBreakBefore;
            if (pendingDamage) {
                if (inRange(c0)) c.flags[c0] |= kColumnDamaged;
                pendingDamage = false;
            }
            // The records joined to the range from outside it: the line goes on to the edge.
            if (joined && prev.bucket && prev.bucket->lastTime + 1.0 <= from && start >= from &&
                start < to) {
                const OverviewFile& pf = files_[prev.file];
                DamageJudge pj(pf.path, pf.summary->checkedAgainstHour);
                if (raw.read(readers.get(prev.file, pf.path), *pf.summary, *prev.bucket, pj)) {
                    for (std::size_t r = raw.records.size(); r-- > 0;) {
                        if (!raw.plausible[r]) continue;
                        c.hasBefore = true;
                        c.beforeTime = raw.times[r];
                        for (int f = 0; f < kLogValueCount; ++f)
                            c.before[f] = static_cast<std::int16_t>(raw.records[r].values[f]);
                        break;
                    }
                }
            }
            if (start >= to) {
                if (joined && prev.bucket && prev.bucket->lastTime < to && !c.hasAfter) {
                    if (raw.read(readers.get(fi, file.path), s, b, judge)) {
                        for (std::size_t r = 0; r < raw.records.size(); ++r) {
                            if (!raw.plausible[r]) continue;
                            c.hasAfter = true;
                            c.afterTime = raw.times[r];
                            for (int f = 0; f < kLogValueCount; ++f)
                                c.after[f] = static_cast<std::int16_t>(raw.records[r].values[f]);
                            break;
                        }
                    }
                }
                prev = {fi, &b};
                afterFound = true;
                break;
            }
            prev = {fi, &b};
            if (end <= from) continue;
            const int x0 = c.columnOf(start);
            const int x1 = static_cast<int>(std::ceil((end - from) / step)) - 1;
            if (x0 == x1 && inRange(x0)) {
                merge(c, x0, b.low.data(), b.high.data(), b.count - b.damaged);
                if (b.damaged) c.flags[x0] |= kColumnDamaged;
                continue;
            }
            // Finer than the bucket: its records one by one.
            if (!raw.read(readers.get(fi, file.path), s, b, judge)) {
                // The file changed or went away since it was summarised: the bucket's
                // summary is still true of it as it was, so place that at its start.
                if (inRange(x0)) merge(c, x0, b.low.data(), b.high.data(), b.count - b.damaged);
                continue;
            }
            for (std::size_t r = 0; r < raw.records.size(); ++r) {
                const double t = raw.times[r];
                std::int16_t v[kLogValueCount];
                for (int f = 0; f < kLogValueCount; ++f)
                    v[f] = static_cast<std::int16_t>(raw.records[r].values[f]);
                if (raw.plausible[r] && t < from) {
                    c.hasBefore = true;
                    c.beforeTime = t;
                    std::copy(v, v + kLogValueCount, c.before.begin());
                } else if (raw.plausible[r] && t >= to && !c.hasAfter) {
                    c.hasAfter = true;
                    c.afterTime = t;
                    std::copy(v, v + kLogValueCount, c.after.begin());
                }
                const int x = c.columnOf(t);
                if (t < from || t >= to || !inRange(x)) continue;
                if (raw.plausible[r])
                    merge(c, x, v, v, 1);
                else
                    c.flags[x] |= kColumnDamaged;
            }
        }
    }
    if (!afterFound) {
        if (prev.bucket)
            markGap(prev.bucket->lastTime + 1.0, to + step);
        else
            markGap(from - step, to + step);
    }
    return c;
}

bool OverviewSet::locate(double time, OverviewLocation& out) const {
    if (order_.empty() || !std::isfinite(time)) return false;
    // In one file: the last plausible record drawn at or before time (first: its first one).
    const auto inFile = [&](std::size_t fi, bool first, OverviewLocation& found) {
        const OverviewFile& file = files_[fi];
        const LogSummary& s = *file.summary;
        const SummaryBucket* best = nullptr;
        for (const SummaryBucket& b : s.buckets) {
            if (!b.valid()) continue;
            if (first) {
                best = &b;
                break;
            }
            if (b.firstTime <= time && (!best || b.firstTime >= best->firstTime)) best = &b;
        }
        if (!best) return false;
        LogReader reader;
        if (reader.open(file.path) != LOG_OK) return false;
        DamageJudge judge(file.path, s.checkedAgainstHour);
        BucketRecords raw;
        if (!raw.read(&reader, s, *best, judge)) return false;
        std::size_t pick = raw.records.size();
        for (std::size_t r = 0; r < raw.records.size(); ++r) {
            if (!raw.plausible[r]) continue;
            if (first) {
                pick = r;
                break;
            }
            if (raw.times[r] <= time) pick = r;
        }
        if (pick == raw.records.size()) return false;
        found.path = file.path;
        found.record =
            static_cast<std::int64_t>(best->firstRecord) + static_cast<std::int64_t>(pick);
        found.time = raw.records[pick].time;
        found.plotTime = raw.times[pick];
        return true;
    };

    // The record drawn last at or before the moment, in whichever file: files are tried from
    // the one whose records may reach latest, until none can beat the record found.
    std::vector<std::size_t> candidates;
    for (const std::size_t i : order_)
        if (files_[i].firstTime <= time) candidates.push_back(i);
    const auto reach = [&](std::size_t i) { return std::min(files_[i].endTime, time); };
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](std::size_t a, std::size_t b) { return reach(a) > reach(b); });
    OverviewLocation best;
    bool found = false;
    for (const std::size_t i : candidates) {
        if (found && reach(i) < best.plotTime) break;
        OverviewLocation here;
        if (inFile(i, false, here) && (!found || here.plotTime > best.plotTime)) {
            best = here;
            found = true;
        }
    }

    // A moment of an hour whose file is there, before anything drawn in that hour: that file's
    // first record, rather than the end of the hour before.
    const auto t = static_cast<std::int64_t>(std::floor(time));
    for (const std::size_t i : order_) {
        LogFileHour hour;
        std::int64_t start = 0, end = 0;
        if (!parseLogFileName(files_[i].path, hour) || !files_[i].summary->checkedAgainstHour ||
            !hourSpan(hour, start, end) || t < start || t >= end)
            continue;
        if (!found || best.plotTime < static_cast<double>(start)) {
            OverviewLocation first;
            if (inFile(i, true, first)) {
                out = first;
                return true;
            }
        }
        break;
    }
    if (!found) return false;
    out = best;
    return true;
}

bool OverviewSet::forEachRecord(
    double from, double to,
    const std::function<void(const LogRecord&, double plotTime)>& visit) const {
    bool ok = true;
    BucketRecords raw;
    for (const std::size_t fi : order_) {
        const OverviewFile& file = files_[fi];
        if (file.endTime <= from || file.firstTime >= to) continue;
        LogReader reader;
        if (reader.open(file.path) != LOG_OK) {
            ok = false;
            continue;
        }
        const LogSummary& s = *file.summary;
        DamageJudge judge(file.path, s.checkedAgainstHour);
        for (const SummaryBucket& b : s.buckets) {
            if (!b.valid() || b.lastTime + 1.0 <= from || b.firstTime >= to) continue;
            if (!raw.read(&reader, s, b, judge)) {
                ok = false;
                continue;
            }
            for (std::size_t r = 0; r < raw.records.size(); ++r)
                if (raw.plausible[r] && raw.times[r] >= from && raw.times[r] < to)
                    visit(raw.records[r], raw.times[r]);
        }
    }
    return ok;
}

}  // namespace kvx
