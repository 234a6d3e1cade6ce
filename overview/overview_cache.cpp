#include "overview/overview_cache.h"

#include <cstdlib>

namespace kvx {

std::string defaultOverviewCacheFolder() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg)
        return std::string(xdg) + "/orvik-kvx/overview";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.cache/orvik-kvx/overview";
    return {};
}

OverviewCache::OverviewCache(std::string folder) : folder_(std::move(folder)) {}

std::shared_ptr<OverviewCache> OverviewCache::shared() {
    static const std::shared_ptr<OverviewCache> cache =
        std::make_shared<OverviewCache>(defaultOverviewCacheFolder());
    return cache;
}

std::shared_ptr<const LogSummary> OverviewCache::get(const std::string& path, std::string* error,
                                                     const std::atomic<bool>* cancel,
                                                     bool* fromCache) {
    if (fromCache) *fromCache = false;
    auto summary = std::make_shared<LogSummary>();
    if (!summariseLogFile(path, *summary, error, cancel)) return nullptr;
    return summary;
}

std::string OverviewCache::cacheFilePath(const std::string& path) const {
    return folder_ + "/" + path;
}

void OverviewCache::clearMemory() {
    std::lock_guard lock(mutex_);
    memory_.clear();
}

}  // namespace kvx
