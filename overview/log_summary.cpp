#include "overview/log_summary.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "log/log_reader.h"
#include "log/log_record_check.h"

namespace kvx {

DamageJudge::DamageJudge(const std::string& path, bool useHour) {
    named_ = parseLogFileName(path, hour_);
    useHour_ = useHour && named_;
}

bool DamageJudge::plausibleAnyway(const LogRecord& record) {
    return isPlausibleLogRecord(record, nullptr, nullptr);
}

bool DamageJudge::nearHour(std::int32_t time) {
    if (!named_) return false;
    const std::int64_t t = time;
    const bool known = nearLow_ <= nearHigh_;
    if (known && t >= nearLow_ && t <= nearHigh_) return true;
    if (known && (t <= farBelow_ || t >= farAbove_)) return false;
    // The records of one second share their time: a file of another zone asks once a second.
    if (haveLast_ && t == lastTime_) return lastNear_;
    const bool near = isNearLogFileHour(t, hour_);
    haveLast_ = true;
    lastTime_ = t;
    lastNear_ = near;
    if (near) {
        nearLow_ = known ? std::min(nearLow_, t) : t;
        nearHigh_ = known ? std::max(nearHigh_, t) : t;
    } else if (known && t < nearLow_) {
        farBelow_ = std::max(farBelow_, t);
    } else if (known && t > nearHigh_) {
        farAbove_ = std::min(farAbove_, t);
    }
    return near;
}

bool DamageJudge::plausible(const LogRecord& record) {
    return plausibleAnyway(record) && (!useHour_ || nearHour(record.time));
}

namespace {

constexpr std::int64_t kBatch = 4096;
// A bucket never holds more records than this, even when the clock stands still or a long run
// of records is damaged: a view finer than a bucket reads its records, and that must stay cheap.
constexpr int kMaxBucketRecords = 1024;

bool stopped(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

bool fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

class BucketMaker {
  public:
    explicit BucketMaker(std::vector<SummaryBucket>& out) : out_(out) {}

    void add(std::int64_t index, const LogRecord& record, bool plausible) {
        if (open_ && mustBreak(record, plausible)) close();
        if (!open_) {
            cur_ = SummaryBucket{};
            cur_.firstRecord = static_cast<std::uint32_t>(index);
            open_ = true;
        }
        ++cur_.count;
        if (!plausible) {
            ++cur_.damaged;
            return;
        }
        const bool first = cur_.count - cur_.damaged == 1;
        if (first) cur_.firstTime = record.time;
        cur_.lastTime = record.time;
        for (int f = 0; f < kLogValueCount; ++f) {
            const auto v = static_cast<std::int16_t>(record.values[f]);
            if (first) {
                cur_.low[f] = cur_.high[f] = v;
            } else {
                cur_.low[f] = std::min(cur_.low[f], v);
                cur_.high[f] = std::max(cur_.high[f], v);
            }
        }
    }

    void close() {
        if (open_) out_.push_back(cur_);
        open_ = false;
    }

  private:
    bool mustBreak(const LogRecord& record, bool plausible) const {
        if (cur_.count >= kMaxBucketRecords) return true;
        if (!plausible || !cur_.valid()) return false;
        const std::int64_t step = static_cast<std::int64_t>(record.time) - cur_.lastTime;
        if (step < 0 || step > kOverviewGapSeconds) return true;
        return cur_.count >= kSummaryBucketRecords && step != 0;
    }

    std::vector<SummaryBucket>& out_;
    SummaryBucket cur_;
    bool open_ = false;
};

}  // namespace

bool summariseLogFile(const std::string& path, LogSummary& out, std::string* error,
                      const std::atomic<bool>* cancel) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail(error, std::string("cannot open: ") + std::strerror(errno));
    LogReader reader;
    const int result = reader.open(path);
    if (result == LOG_OPEN_FAILED)
        return fail(error, std::string("cannot open: ") + std::strerror(reader.errorNumber()));
    if (result == LOG_NOT_REGULAR)
        return fail(error,
                    reader.errorNumber() == EISDIR ? "is a directory" : "not a regular file");
    if (result != LOG_OK) return fail(error, "cannot read the file");
    if (!reader.hasHeader() && reader.recordCount() == 0 && reader.trailingBytes() > 0)
        return fail(error, "not a KVX log file: no header and shorter than one record (" +
                               std::to_string(reader.trailingBytes()) + " bytes)");
    if (reader.recordCount() > UINT32_MAX) return fail(error, "too large for a log file");

    LogSummary summary;
    summary.source = path;
    summary.fileSize = reader.fileSize();
    // A file that changed between the look and the open gets no time: its summary is used
    // once and made again next time.
    summary.mtimeNs =
        st.st_size == reader.fileSize()
            ? static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec
            : 0;
    summary.headerSize = reader.headerSize();
    summary.recordCount = reader.recordCount();
    summary.trailingBytes = reader.trailingBytes();

    // First pass: which judgement applies. As kvx-log: against the hour of the name unless no
    // record lies in that hour while some are plausible (renamed, or another time zone).
    const std::int64_t count = reader.recordCount();
    std::vector<LogRecord> batch(
        static_cast<std::size_t>(std::min(kBatch, std::max<std::int64_t>(count, 1))));
    DamageJudge judge(path, true);
    std::int64_t plausible = 0, inHour = 0;
    for (std::int64_t first = 0; first < count; first += kBatch) {
        if (stopped(cancel)) return fail(error, "cancelled");
        const std::int64_t want = std::min(kBatch, count - first);
        if (reader.readRecords(first, want, batch.data()) != want)
            return fail(error, "read error at record " + std::to_string(first));
        for (std::int64_t k = 0; k < want; ++k) {
            if (!DamageJudge::plausibleAnyway(batch[k])) continue;
            ++plausible;
            if (judge.named() && judge.nearHour(batch[k].time)) ++inHour;
        }
    }
    summary.checkedAgainstHour = judge.named() && (inHour > 0 || plausible == 0);

    // Second pass: the buckets.
    DamageJudge damage(path, summary.checkedAgainstHour);
    BucketMaker maker(summary.buckets);
    for (std::int64_t first = 0; first < count; first += kBatch) {
        if (stopped(cancel)) return fail(error, "cancelled");
        const std::int64_t want = std::min(kBatch, count - first);
        if (reader.readRecords(first, want, batch.data()) != want)
            return fail(error, "read error at record " + std::to_string(first));
        for (std::int64_t k = 0; k < want; ++k) {
            const bool ok = damage.plausible(batch[k]);
            summary.damagedCount += !ok;
            maker.add(first + k, batch[k], ok);
        }
    }
    maker.close();
    if (count > 0 && summary.damagedCount == count)
        return fail(error, std::string(reader.hasHeader() ? "damaged" : "not a KVX log file") +
                               ": no readable record");
    out = std::move(summary);
    return true;
}

// The cache file: a fixed head, the buckets, and an FNV-1a checksum of all that, every number
// little-endian whatever the host.
namespace {

constexpr char kMagic[8] = {'K', 'V', 'X', 'O', 'V', 'S', 'U', 'M'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kBucketBytes = 4 + 2 + 2 + 4 + 4 + 4 * kLogValueCount;
constexpr std::size_t kMaxSourceBytes = 4096;

std::uint64_t fnv1a(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 1099511628211ull;
    }
    return h;
}

class Writer {
  public:
    void put(std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            text_ += static_cast<char>(value >> (8 * i) & 0xff);
    }
    void bytes(const void* data, std::size_t size) {
        text_.append(static_cast<const char*>(data), size);
    }
    std::string& text() { return text_; }

  private:
    std::string text_;
};

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool get(std::uint64_t& value, int bytes) {
        if (size_ - at_ < static_cast<std::size_t>(bytes)) return false;
        value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<std::uint64_t>(data_[at_ + i]) << (8 * i);
        at_ += bytes;
        return true;
    }
    template <typename T>
    bool getAs(T& out, int bytes) {
        std::uint64_t v = 0;
        if (!get(v, bytes)) return false;
        // Sign-extends from the stored width.
        if constexpr (std::is_signed_v<T>) {
            const int shift = 64 - 8 * bytes;
            out = static_cast<T>(static_cast<std::int64_t>(v << shift) >> shift);
        } else {
            out = static_cast<T>(v);
        }
        return true;
    }
    bool take(std::string& out, std::size_t n) {
        if (size_ - at_ < n) return false;
        out.assign(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return true;
    }
    std::size_t left() const { return size_ - at_; }
    std::size_t at() const { return at_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

std::string serialiseSummary(const LogSummary& s) {
    Writer w;
    w.bytes(kMagic, sizeof kMagic);
    w.put(kVersion, 4);
    w.put(kSummaryBucketRecords, 4);
    w.put(s.source.size(), 4);
    w.bytes(s.source.data(), s.source.size());
    w.put(static_cast<std::uint64_t>(s.fileSize), 8);
    w.put(static_cast<std::uint64_t>(s.mtimeNs), 8);
    w.put(static_cast<std::uint32_t>(s.headerSize), 4);
    w.put(static_cast<std::uint64_t>(s.recordCount), 8);
    w.put(static_cast<std::uint64_t>(s.trailingBytes), 8);
    w.put(static_cast<std::uint64_t>(s.damagedCount), 8);
    w.put(s.checkedAgainstHour ? 1 : 0, 1);
    w.put(s.buckets.size(), 4);
    for (const SummaryBucket& b : s.buckets) {
        w.put(b.firstRecord, 4);
        w.put(b.count, 2);
        w.put(b.damaged, 2);
        w.put(static_cast<std::uint32_t>(b.firstTime), 4);
        w.put(static_cast<std::uint32_t>(b.lastTime), 4);
        for (int f = 0; f < kLogValueCount; ++f)
            w.put(static_cast<std::uint16_t>(b.low[f]), 2);
        for (int f = 0; f < kLogValueCount; ++f)
            w.put(static_cast<std::uint16_t>(b.high[f]), 2);
    }
    const std::string& body = w.text();
    w.put(fnv1a(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()), 8);
    return std::move(w.text());
}

bool parseSummary(const std::uint8_t* data, std::size_t size, LogSummary& out) {
    if (size < sizeof kMagic + 8 || std::memcmp(data, kMagic, sizeof kMagic) != 0) return false;
    const std::size_t bodySize = size - 8;
    Reader checksum(data + bodySize, 8);
    std::uint64_t stored = 0;
    if (!checksum.get(stored, 8) || stored != fnv1a(data, bodySize)) return false;

    Reader r(data, bodySize);
    std::string magic;
    std::uint32_t version = 0, bucketRecords = 0, sourceSize = 0, headerSize = 0, buckets = 0;
    std::uint8_t checked = 0;
    LogSummary s;
    if (!r.take(magic, sizeof kMagic) || !r.getAs(version, 4) || version != kVersion ||
        !r.getAs(bucketRecords, 4) || bucketRecords != kSummaryBucketRecords ||
        !r.getAs(sourceSize, 4) || sourceSize > kMaxSourceBytes || !r.take(s.source, sourceSize) ||
        !r.getAs(s.fileSize, 8) || !r.getAs(s.mtimeNs, 8) || !r.getAs(headerSize, 4) ||
        !r.getAs(s.recordCount, 8) || !r.getAs(s.trailingBytes, 8) || !r.getAs(s.damagedCount, 8) ||
        !r.getAs(checked, 1) || !r.getAs(buckets, 4))
        return false;
    // The file's shape must be what the reader makes of its size.
    if (headerSize != 0 && headerSize != static_cast<std::uint32_t>(kLogHeaderSize)) return false;
    s.headerSize = static_cast<int>(headerSize);
    if (s.fileSize < 0 || checked > 1) return false;
    const std::int64_t payload = s.fileSize >= s.headerSize ? s.fileSize - s.headerSize : 0;
    if (s.recordCount != payload / kLogRecordSize || s.trailingBytes != payload % kLogRecordSize)
        return false;
    if (s.damagedCount < 0 || s.damagedCount > s.recordCount) return false;
    s.checkedAgainstHour = checked != 0;
    if (r.left() != static_cast<std::size_t>(buckets) * kBucketBytes) return false;
    s.buckets.resize(buckets);
    std::int64_t next = 0, damaged = 0;
    for (SummaryBucket& b : s.buckets) {
        std::uint32_t firstTime = 0, lastTime = 0;
        if (!r.getAs(b.firstRecord, 4) || !r.getAs(b.count, 2) || !r.getAs(b.damaged, 2) ||
            !r.getAs(firstTime, 4) || !r.getAs(lastTime, 4))
            return false;
        b.firstTime = static_cast<std::int32_t>(firstTime);
        b.lastTime = static_cast<std::int32_t>(lastTime);
        for (int f = 0; f < kLogValueCount; ++f)
            if (!r.getAs(b.low[f], 2)) return false;
        for (int f = 0; f < kLogValueCount; ++f)
            if (!r.getAs(b.high[f], 2)) return false;
        if (b.firstRecord != next || b.count == 0 || b.count > kMaxBucketRecords ||
            b.damaged > b.count)
            return false;
        if (b.valid()) {
            if (b.firstTime < kEarliestLogTime || b.lastTime < b.firstTime) return false;
            for (int f = 0; f < kLogValueCount; ++f)
                if (b.low[f] > b.high[f]) return false;
        } else if (b.firstTime != 0 || b.lastTime != 0 || b.low != decltype(b.low){} ||
                   b.high != decltype(b.high){}) {
            return false;
        }
        next += b.count;
        damaged += b.damaged;
    }
    if (next != s.recordCount || damaged != s.damagedCount) return false;
    out = std::move(s);
    return true;
}

void recordPlotTimes(const LogRecord* records, const bool* plausible, std::size_t count,
                     double* out) {
    // The records of one second: rank / group size within it.
    std::size_t i = 0;
    while (i < count) {
        if (!plausible[i]) {
            ++i;
            continue;
        }
        std::size_t end = i + 1, group = 1;
        while (end < count && (!plausible[end] || records[end].time == records[i].time)) {
            group += plausible[end];
            ++end;
        }
        std::size_t rank = 0;
        for (std::size_t k = i; k < end; ++k)
            if (plausible[k])
                out[k] = records[i].time + static_cast<double>(rank++) / static_cast<double>(group);
        i = end;
    }
    // A damaged record sits where the plausible record before it is drawn (after it at the
    // start; at its own time when there is no plausible record at all).
    std::size_t firstOk = 0;
    while (firstOk < count && !plausible[firstOk])
        ++firstOk;
    for (std::size_t k = 0; k < firstOk; ++k)
        out[k] = firstOk < count ? out[firstOk] : records[k].time;
    for (std::size_t k = firstOk + 1; k < count; ++k)
        if (!plausible[k]) out[k] = out[k - 1];
}

}  // namespace kvx
