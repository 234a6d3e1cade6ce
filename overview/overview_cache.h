#pragma once
// Where summaries are kept: in memory (shared by every OverviewSet of the process) and on disk,
// one file per log file in a cache folder, never beside the logs (the archive's and the
// agent's folders are read by other tools and may be read-only). A cached summary is used only
// while the log's size and modification time match what was summarised; a grown file (the
// current hour, still being written) is summarised again. A cache file that fails the strict
// check is ignored and written again, never trusted.
//
// Use: OverviewCache::shared() in the program; tests make their own with a temporary folder.
// get() is safe from several threads at once.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "overview/log_summary.h"

namespace kvx {

// $XDG_CACHE_HOME/orvik-kvx/overview, else $HOME/.cache/orvik-kvx/overview; empty when
// neither variable is set.
std::string defaultOverviewCacheFolder();

class OverviewCache {
  public:
    // folder empty: memory only (nothing is written to disk).
    explicit OverviewCache(std::string folder);

    // The process-wide cache in defaultOverviewCacheFolder().
    static std::shared_ptr<OverviewCache> shared();

    // The summary of the log at path: from memory, else from the cache file, else built (and
    // then stored in both). Null with *error when the file cannot be used (see
    // summariseLogFile). *fromCache (when given) tells whether it was found in memory or on
    // disk. A cache folder that cannot be written is no error: the summary is kept in memory.
    std::shared_ptr<const LogSummary> get(const std::string& path, std::string* error,
                                          const std::atomic<bool>* cancel = nullptr,
                                          bool* fromCache = nullptr);

    // The cache file that stands for the log at path (which need not exist).
    std::string cacheFilePath(const std::string& path) const;
    const std::string& folder() const { return folder_; }
    // Forgets the summaries kept in memory (the files stay).
    void clearMemory();

    // Summaries no set holds any more are forgotten, least recently used first, beyond this
    // many bytes (a day's are about 1.3 MB).
    static constexpr std::size_t kMemoryBudget = 128u << 20;

  private:
    struct Entry {
        std::int64_t size = 0, mtimeNs = 0;
        std::shared_ptr<const LogSummary> summary;
        std::uint64_t used = 0;
    };
    // Under mutex_.
    void keep(const std::string& path, std::int64_t size, std::int64_t mtimeNs,
              std::shared_ptr<const LogSummary> summary);

    std::string folder_;
    std::mutex mutex_;
    std::map<std::string, Entry> memory_;
    std::uint64_t tick_ = 0;
};

}  // namespace kvx
