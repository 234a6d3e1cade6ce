#include "overview/log_summary.h"

namespace kvx {

bool summariseLogFile(const std::string& path, LogSummary& out, std::string* error,
                      const std::atomic<bool>* cancel) {
    (void)path;
    (void)out;
    (void)cancel;
    if (error) *error = "not built yet";
    return false;
}

std::string serialiseSummary(const LogSummary& summary) {
    (void)summary;
    return {};
}

bool parseSummary(const std::uint8_t* data, std::size_t size, LogSummary& out) {
    (void)data;
    (void)size;
    (void)out;
    return false;
}

void recordPlotTimes(const LogRecord* records, const bool* plausible, std::size_t count,
                     double* out) {
    (void)plausible;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = records[i].time;
}

}  // namespace kvx
