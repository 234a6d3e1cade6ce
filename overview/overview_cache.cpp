#include "overview/overview_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/small_file.h"

namespace kvx {

namespace {

// A summary file is a few percent of its log; anything far larger is not ours.
constexpr std::size_t kMaxCacheFileBytes = 64u << 20;

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

std::uint64_t nameHash(const std::string& text) {
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

bool statFile(const std::string& path, std::int64_t& size, std::int64_t& mtimeNs) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = st.st_size;
    mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

// Written to a new file and renamed over the old one, so a reader never sees half a file and
// two programs writing the same summary do not mix their bytes.
void writeCacheFile(const std::string& folder, const std::string& path, const std::string& bytes) {
    static std::atomic<unsigned> serial{0};
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string temp =
        path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial++);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = ::close(fd) == 0 && done == bytes.size();
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) ::unlink(temp.c_str());
}

}  // namespace

std::string defaultOverviewCacheFolder() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/')
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

std::string OverviewCache::cacheFilePath(const std::string& path) const {
    const std::string absolute = absolutePath(path);
    const std::string name = std::filesystem::path(absolute).filename().string();
    char hash[24];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(nameHash(absolute)));
    return folder_ + "/" + name + "-" + hash + ".summary";
}

std::shared_ptr<const LogSummary> OverviewCache::get(const std::string& path, std::string* error,
                                                     const std::atomic<bool>* cancel,
                                                     bool* fromCache) {
    if (fromCache) *fromCache = false;
    const std::string absolute = absolutePath(path);
    std::int64_t size = 0, mtimeNs = 0;
    const bool known = statFile(absolute, size, mtimeNs);
    if (known) {
        std::lock_guard lock(mutex_);
        const auto it = memory_.find(absolute);
        if (it != memory_.end() && it->second.size == size && it->second.mtimeNs == mtimeNs) {
            it->second.used = ++tick_;
            if (fromCache) *fromCache = true;
            return it->second.summary;
        }
    }
    const std::string file = folder_.empty() ? std::string() : cacheFilePath(absolute);
    if (known && !file.empty()) {
        std::string bytes;
        LogSummary stored;
        if (readSmallFile(file, kMaxCacheFileBytes, bytes) == SmallFile::Read &&
            parseSummary(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                         stored) &&
            stored.source == absolute && stored.fileSize == size && stored.mtimeNs == mtimeNs &&
            stored.mtimeNs != 0) {
            auto summary = std::make_shared<const LogSummary>(std::move(stored));
            std::lock_guard lock(mutex_);
            keep(absolute, size, mtimeNs, summary);
            if (fromCache) *fromCache = true;
            return summary;
        }
    }
    auto built = std::make_shared<LogSummary>();
    if (!summariseLogFile(absolute, *built, error, cancel)) return nullptr;
    built->source = absolute;
    std::shared_ptr<const LogSummary> summary = std::move(built);
    // A file that changed while it was read has no time and is not kept: the next look
    // summarises it again.
    if (summary->mtimeNs != 0) {
        if (!file.empty()) writeCacheFile(folder_, file, serialiseSummary(*summary));
        std::lock_guard lock(mutex_);
        keep(absolute, summary->fileSize, summary->mtimeNs, summary);
    }
    return summary;
}

void OverviewCache::keep(const std::string& path, std::int64_t size, std::int64_t mtimeNs,
                         std::shared_ptr<const LogSummary> summary) {
    memory_[path] = Entry{size, mtimeNs, std::move(summary), ++tick_};
    const auto bytesOf = [](const Entry& e) {
        return sizeof(LogSummary) + e.summary->buckets.size() * sizeof(SummaryBucket);
    };
    std::size_t total = 0;
    for (const auto& [p, e] : memory_)
        total += bytesOf(e);
    while (total > kMemoryBudget) {
        auto oldest = memory_.end();
        for (auto it = memory_.begin(); it != memory_.end(); ++it)
            if (it->second.summary.use_count() == 1 &&
                (oldest == memory_.end() || it->second.used < oldest->second.used))
                oldest = it;
        if (oldest == memory_.end()) break;  // every one is in use
        total -= bytesOf(oldest->second);
        memory_.erase(oldest);
    }
}

void OverviewCache::clearMemory() {
    std::lock_guard lock(mutex_);
    memory_.clear();
}

}  // namespace kvx
