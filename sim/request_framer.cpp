#include "sim/request_framer.h"

#include <algorithm>

namespace kvx::sim {

int requestLength(const std::uint8_t* buf, std::size_t have) {
    if (have < 2) return 0;
    switch (buf[1]) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
            return 8;
        case 7:
        case 11:
        case 12:
        case 17:
            return 4;
        case 15:
        case 16:
            return have < 7 ? 0 : 9 + buf[6];
        case 22:
            return 10;
        case 23:
            return have < 11 ? 0 : 13 + buf[10];
        default:
            return -1;
    }
}

void RequestFramer::feed(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) {
    if (n == 0) return;
    if (resyncing_) {
        if (nowUs - resyncLastUs_ < gapUs_) {
            resyncLastUs_ = nowUs;
            return;
        }
        resyncing_ = false;
    }
    if (buffer_.empty()) firstUs_ = nowUs;
    lastUs_ = nowUs;
    // Anything beyond the largest frame is noise; keep the buffer bounded.
    const std::size_t room = 2 * kMaxRequestBytes - std::min(buffer_.size(), 2 * kMaxRequestBytes);
    buffer_.insert(buffer_.end(), data, data + std::min(n, room));
}

bool RequestFramer::take(std::int64_t nowUs, ReceivedFrame& out) {
    if (buffer_.empty()) return false;
    const int len = requestLength(buffer_.data(), buffer_.size());
    std::size_t cut = 0;
    if (len > 0 && buffer_.size() >= static_cast<std::size_t>(len)) {
        cut = static_cast<std::size_t>(len);
    } else if (len < 0 && nowUs - lastUs_ >= gapUs_) {
        cut = std::min(buffer_.size(), kMaxRequestBytes);
    } else if (nowUs - lastUs_ >= partialTimeoutUs_) {
        ++partialDrops_;
        buffer_.clear();
        return false;
    } else {
        return false;
    }
    out.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(cut));
    out.firstUs = firstUs_;
    out.lastUs = lastUs_;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(cut));
    firstUs_ = lastUs_;  // the rest came with the frame's last chunk
    return true;
}

std::int64_t RequestFramer::deadlineUs() const {
    if (buffer_.empty()) return -1;
    const int len = requestLength(buffer_.data(), buffer_.size());
    if (len > 0 && buffer_.size() >= static_cast<std::size_t>(len)) return lastUs_;
    return lastUs_ + (len < 0 ? gapUs_ : partialTimeoutUs_);
}

void RequestFramer::resync(std::int64_t nowUs) {
    buffer_.clear();
    resyncing_ = true;
    resyncLastUs_ = nowUs;
}

void RequestFramer::reset() {
    buffer_.clear();
    resyncing_ = false;
}

}  // namespace kvx::sim
