// One hour of polls (18,000 records): appending them to a log file, and turning such a file
// into CSV the way kvx-log does.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "log/log_csv.h"
#include "log/log_file_name.h"
#include "log/log_reader.h"
#include "log/log_writer.h"

namespace {

using namespace kvx;

constexpr int kHourRecords = 18000;

LocalDateTime benchHour() {
    LocalDateTime t;
    t.year = 2014;
    t.month = 5;
    t.day = 24;
    t.hour = 13;
    return t;
}

LogRecord poll(int n) {
    LogRecord record;
    record.time = 1400936400 + n / 5;
    for (int i = 0; i < kLogValueCount; ++i)
        record.values[i] = (n * 31 + i * 977) % 30000 - 15000;
    return record;
}

std::string scratchDir() {
    static std::string dir = [] {
        std::string pattern = "/tmp/kvx_log_bench_XXXXXX";
        return mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
    }();
    return dir;
}

void writeHour(const std::string& dir) {
    LogWriter writer(dir, benchHour);
    writer.openLogFile(LogWriter::kRequestHeader, 113);
    for (int n = 0; n < kHourRecords; ++n)
        writer.appendLogRecord(poll(n));
    writer.closeLogFile();
}

void BM_AppendOneHour(benchmark::State& state) {
    const std::string dir = scratchDir();
    const std::string path = logFilePath(dir, benchHour());
    for (auto _ : state) {
        state.PauseTiming();
        ::unlink(path.c_str());
        state.ResumeTiming();
        writeHour(dir);
    }
    ::unlink(path.c_str());
    state.SetItemsProcessed(state.iterations() * kHourRecords);
    state.SetBytesProcessed(state.iterations() * (40 + kHourRecords * kLogRecordSize));
}
BENCHMARK(BM_AppendOneHour)->Unit(benchmark::kMillisecond);

void BM_ExportOneHourCsv(benchmark::State& state) {
    const bool raw = state.range(0) != 0;
    const std::string dir = scratchDir();
    const std::string path = logFilePath(dir, benchHour());
    ::unlink(path.c_str());
    writeHour(dir);
    std::vector<LogRecord> records(kHourRecords);
    std::string text;
    text.reserve(4 << 20);
    for (auto _ : state) {
        LogReader reader;
        reader.open(path);
        const std::int64_t count = reader.readRecords(0, reader.recordCount(), records.data());
        text = csvHeaderRow();
        for (std::int64_t k = 0; k < count; ++k) {
            isPlausibleLogRecord(records[k], nullptr);
            appendCsvRow(records[k], raw, text);
        }
        benchmark::DoNotOptimize(text.data());
    }
    ::unlink(path.c_str());
    state.SetItemsProcessed(state.iterations() * kHourRecords);
    state.counters["csv_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ExportOneHourCsv)->Arg(0)->Arg(1)->ArgName("raw")->Unit(benchmark::kMillisecond);

}  // namespace
