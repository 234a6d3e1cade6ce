#pragma once
// A slow build (an overview's summaries) on a worker thread, its progress and its end handed
// to the GUI thread: the Log Overview window's build and the service report's share it.
//
// Use (as a member of the QObject that shows the progress, so no report outlives it):
//   build_.start([set](const auto& progress, const std::atomic<bool>& cancel) {
//                    return set->build(progress, &cancel); },
//                [this](std::size_t done, std::size_t total) { bar->setValue(done); },
//                [this, set](bool completed) { ... });
// A newer start() or stop() stops the older build: its reports no longer come.
#include <QObject>
#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>

namespace kvx {

class BackgroundBuild {
  public:
    using Progress = std::function<void(std::size_t done, std::size_t total)>;
    // Runs on the worker; reports through progress; true when it ran to the end (not
    // cancelled).
    using Work = std::function<bool(const Progress& progress, const std::atomic<bool>& cancel)>;

    // The reports run on context's thread (the GUI's), while context lives.
    explicit BackgroundBuild(QObject* context) : context_(context) {}
    ~BackgroundBuild() { stop(); }
    BackgroundBuild(const BackgroundBuild&) = delete;
    BackgroundBuild& operator=(const BackgroundBuild&) = delete;

    // onFinished(completed) comes once the worker has ended; false when cancelled.
    void start(Work work, Progress onProgress, std::function<void(bool completed)> onFinished);
    // Asks the build to stop; its onFinished(false) still comes.
    void cancel() { cancel_ = true; }
    // Stops the build and waits for the worker; nothing more is reported of it.
    void stop();
    bool running() const { return worker_.joinable(); }

  private:
    QObject* context_;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    unsigned generation_ = 0;  // of the build whose reports count (the GUI thread's alone)
};

}  // namespace kvx
