// Any bytes as a log file: the header check, the record count, reading records one by one and
// in batches, and the CSV export of each.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "log/log_csv.h"
#include "log/log_reader.h"

using namespace kvx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A memory file named through /proc: the reader opens paths, and the disk stays out of it.
    static const int fd = ::memfd_create("kvx_fuzz_log", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    FUZZ_CHECK(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));

    LogReader reader;
    FUZZ_CHECK(reader.open(path) == LOG_OK);
    FUZZ_CHECK(reader.fileSize() == static_cast<std::int64_t>(size));
    const std::int64_t records = reader.recordCount();
    if (!reader.headerTruncated()) {
        FUZZ_CHECK(reader.headerSize() + records * kLogRecordSize + reader.trailingBytes() ==
                   reader.fileSize());
        FUZZ_CHECK(reader.trailingBytes() >= 0 && reader.trailingBytes() < kLogRecordSize);
    } else {
        FUZZ_CHECK(records == 0);
    }
    if (reader.hasHeader()) FUZZ_CHECK(reader.title().find("KVX") != std::string::npos);

    std::vector<LogRecord> all(static_cast<std::size_t>(records) + 1);
    FUZZ_CHECK(reader.readRecords(0, records + 5, all.data()) == records);
    std::string csv = csvHeaderRow();
    std::string why;
    LogRecord one;
    for (std::int64_t i = 0; i < records; ++i) {
        FUZZ_CHECK(reader.readRecord(i, one) == LOG_OK);
        FUZZ_CHECK(one == all[static_cast<std::size_t>(i)]);
        isPlausibleLogRecord(one, &why);
        appendCsvRow(one, false, csv);
        appendCsvRow(one, true, csv);
    }
    FUZZ_CHECK(reader.readRecord(records, one) == LOG_BAD_INDEX);
    FUZZ_CHECK(reader.readRecord(-1, one) == LOG_BAD_INDEX);
    FUZZ_CHECK(reader.readRecords(records, 1, all.data()) == 0);
    return 0;
}
