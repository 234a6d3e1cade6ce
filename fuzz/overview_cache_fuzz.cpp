// Any bytes as an overview summary file (the cache folder is outside the program's hands): the
// reader refuses anything but a summary the writer made, so what it accepts writes back to the
// very same bytes and describes a log of consistent shape. Each input is tried as it is and
// with its last 8 bytes made the checksum the writer would give, so the checks behind the
// checksum are reached too.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "overview/log_summary.h"

using namespace kvx;

namespace {

// The summary file's checksum: FNV-1a 64 of everything before it, little-endian.
void setChecksum(std::string& bytes) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::size_t i = 0; i + 8 < bytes.size(); ++i) {
        h ^= static_cast<std::uint8_t>(bytes[i]);
        h *= 1099511628211ull;
    }
    for (int i = 0; i < 8; ++i)
        bytes[bytes.size() - 8 + i] = static_cast<char>(h >> (8 * i));
}

void check(const std::uint8_t* data, std::size_t size) {
    LogSummary summary;
    if (!parseSummary(data, size, summary)) return;
    const std::string again = serialiseSummary(summary);
    FUZZ_CHECK(again.size() == size);
    FUZZ_CHECK(again.compare(0, std::string::npos, reinterpret_cast<const char*>(data), size) == 0);

    std::int64_t records = 0, damaged = 0;
    for (const SummaryBucket& b : summary.buckets) {
        FUZZ_CHECK(b.firstRecord == records);
        FUZZ_CHECK(b.count > 0 && b.damaged <= b.count);
        if (b.valid()) {
            FUZZ_CHECK(b.firstTime <= b.lastTime);
            for (int f = 0; f < kLogValueCount; ++f)
                FUZZ_CHECK(b.low[f] <= b.high[f]);
        }
        records += b.count;
        damaged += b.damaged;
    }
    FUZZ_CHECK(records == summary.recordCount && damaged == summary.damagedCount);
    FUZZ_CHECK(summary.headerSize == 0 || summary.headerSize == kLogHeaderSize);
    FUZZ_CHECK(summary.recordCount * kLogRecordSize + summary.trailingBytes + summary.headerSize ==
                   summary.fileSize ||
               (summary.fileSize < summary.headerSize && summary.recordCount == 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(data, size);
    if (size >= 8) {
        std::string fixed(reinterpret_cast<const char*>(data), size);
        setChecksum(fixed);
        check(reinterpret_cast<const std::uint8_t*>(fixed.data()), fixed.size());
    }
    return 0;
}
