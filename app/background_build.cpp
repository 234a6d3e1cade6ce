#include "app/background_build.h"

#include <utility>

namespace kvx {

void BackgroundBuild::start(Work work, Progress onProgress,
                            std::function<void(bool completed)> onFinished) {
    stop();
    const unsigned generation = ++generation_;
    worker_ =
        std::thread([this, generation, work = std::move(work), onProgress = std::move(onProgress),
                     onFinished = std::move(onFinished)]() mutable {
            const bool completed = work(
                [this, generation, &onProgress](std::size_t done, std::size_t total) {
                    if (!onProgress) return;
                    QMetaObject::invokeMethod(
                        context_,
                        [this, generation, onProgress, done, total] {
                            if (generation == generation_) onProgress(done, total);
                        },
                        Qt::QueuedConnection);
                },
                cancel_);
            QMetaObject::invokeMethod(
                context_,
                [this, generation, completed, onFinished = std::move(onFinished)] {
                    if (generation != generation_) return;
                    if (worker_.joinable()) worker_.join();
                    cancel_ = false;
                    if (onFinished) onFinished(completed);
                },
                Qt::QueuedConnection);
        });
}

void BackgroundBuild::stop() {
    // A report already queued finds a newer generation and is dropped.
    ++generation_;
    if (!worker_.joinable()) return;
    cancel_ = true;
    worker_.join();
    cancel_ = false;
}

}  // namespace kvx
