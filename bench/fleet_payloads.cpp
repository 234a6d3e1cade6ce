// The record payload's cost per message: what an agent spends encoding each record and what the
// archive and the viewer spend decoding it (the archive's limit is a few tens of thousands a
// second, so decoding must stay far below 30 us).
#include <benchmark/benchmark.h>

#include "fleet/engineering_values.h"
#include "fleet/payloads.h"

namespace {

using namespace kvx;
using namespace kvx::fleet;

RecordMessage sample() {
    RecordMessage m;
    m.seq = 123456;
    m.file = "log_2026_12_8_21.log";
    m.header = makeLogHeader(117);
    m.index = 9000;
    LogRecord r;
    r.time = 1796770800;
    for (int i = 0; i < kLogValueCount; ++i)
        r.values[i] = i * 97 - 300;
    setRecord(m, r);
    m.values = engineeringValues(r, 0);
    m.publishedMs = 1796770800123;
    return m;
}

void encodeRecordPayload(benchmark::State& state) {
    const RecordMessage m = sample();
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeRecord(m));
}
BENCHMARK(encodeRecordPayload);

void decodeRecordPayload(benchmark::State& state) {
    const std::string payload = encodeRecord(sample());
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeRecord(payload));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payload.size()));
}
BENCHMARK(decodeRecordPayload);

}  // namespace
