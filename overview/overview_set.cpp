#include "overview/overview_set.h"

#include <cmath>

namespace kvx {

int OverviewColumns::columnOf(double time) const {
    const double s = step();
    if (s <= 0) return 0;
    return static_cast<int>(std::floor((time - from) / s));
}

std::vector<std::string> findLogFiles(const std::string& folder, std::int64_t from, std::int64_t to,
                                      std::string* error) {
    (void)folder;
    (void)from;
    (void)to;
    if (error) *error = "not built yet";
    return {};
}

bool parseLocalTime(std::string_view text, std::int64_t& out) {
    (void)text;
    (void)out;
    return false;
}

OverviewSet::OverviewSet(std::shared_ptr<OverviewCache> cache) : cache_(std::move(cache)) {}

void OverviewSet::setFiles(std::vector<std::string> paths) {
    files_.clear();
    for (std::string& p : paths)
        files_.push_back(OverviewFile{std::move(p), {}, nullptr, 0, 0});
}

bool OverviewSet::build(const std::function<void(std::size_t, std::size_t)>& progress,
                        const std::atomic<bool>* cancel) {
    (void)progress;
    (void)cancel;
    return true;
}

std::size_t OverviewSet::usableCount() const {
    std::size_t n = 0;
    for (const OverviewFile& f : files_)
        n += f.summary != nullptr;
    return n;
}

double OverviewSet::firstTime() const {
    return 0;
}

double OverviewSet::lastTime() const {
    return 0;
}

OverviewColumns OverviewSet::reduce(double from, double to, int width) const {
    OverviewColumns c;
    c.from = from;
    c.to = to;
    c.width = width > 0 && to > from ? width : 0;
    c.flags.assign(c.width, 0);
    c.records.assign(c.width, 0);
    c.lows.assign(static_cast<std::size_t>(c.width) * kLogValueCount, 0);
    c.highs.assign(static_cast<std::size_t>(c.width) * kLogValueCount, 0);
    return c;
}

bool OverviewSet::locate(double time, OverviewLocation& out) const {
    (void)time;
    (void)out;
    return false;
}

bool OverviewSet::forEachRecord(
    double from, double to,
    const std::function<void(const LogRecord&, double plotTime)>& visit) const {
    (void)from;
    (void)to;
    (void)visit;
    return true;
}

}  // namespace kvx
