#include "link/traffic_record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/result_codes.h"

namespace kvx {
namespace {

std::int64_t clockUs(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

constexpr const char* kVerdictNames[kTrafficVerdicts] = {
    "sent",           "not-sent",  "good",       "timeout",     "bad-crc",
    "mismatch",       "exception", "io-failure", "passed-over", "wrong-slave",
    "wrong-function", "truncated", "echo",       "noise",
};

}  // namespace

const char* trafficVerdictName(TrafficVerdict verdict) {
    const auto i = static_cast<std::size_t>(verdict);
    return i < std::size(kVerdictNames) ? kVerdictNames[i] : "?";
}

TrafficVerdict trafficVerdictOf(int result) {
    if (result == MBR_SUCCESS) return TrafficVerdict::good;
    // MBR_EXCEPTION | code, MBR_EXCEPTION itself for a code within its bits: the other codes
    // all lack one of them.
    if (result > 0 && (result & MBR_EXCEPTION) == MBR_EXCEPTION) return TrafficVerdict::exception;
    switch (result) {
        case MBR_REPLY_TIMEOUT:
            return TrafficVerdict::timeout;
        case MBR_CRC_MISMATCH:
            return TrafficVerdict::badCrc;
        case MBR_FRAME_MISMATCH:
        case MBR_REPLY_MISMATCH:
            return TrafficVerdict::mismatch;
        case MBR_SEND_TIMEOUT:
            return TrafficVerdict::notSent;
        default:
            return TrafficVerdict::ioFailure;
    }
}

int trafficExceptionCode(const TrafficFrame& frame) {
    if (frame.verdict != TrafficVerdict::exception) return -1;
    // The code follows the function: address, function (RTU); header, unit, function (MBAP).
    const int at = frame.framing == TrafficFraming::rtu ? 2 : 8;
    if (frame.kept() > at) return frame.bytes[static_cast<std::size_t>(at)];
    if (frame.result > MBR_EXCEPTION) return frame.result - MBR_EXCEPTION;
    return -1;
}

std::string formatTrafficLine(const TrafficFrame& frame) {
    std::string line;
    line.reserve(32 + 3 * static_cast<std::size_t>(frame.kept()));
    const std::int64_t seconds =
        frame.wallUs >= 0 ? frame.wallUs / 1000000 : (frame.wallUs - 999999) / 1000000;
    const auto micros = static_cast<long>(frame.wallUs - seconds * 1000000);
    const auto t = static_cast<std::time_t>(seconds);
    std::tm local{};
    ::localtime_r(&t, &local);
    char head[40];
    std::snprintf(head, sizeof head, "%02d:%02d:%02d.%06ld %s", local.tm_hour, local.tm_min,
                  local.tm_sec, micros, frame.direction == TrafficDirection::tx ? "TX" : "RX");
    line += head;
    static constexpr char kHex[] = "0123456789ABCDEF";
    const int kept = std::clamp(frame.kept(), 0, kTrafficFrameBytes);
    for (int i = 0; i < kept; ++i) {
        const std::uint8_t b = frame.bytes[static_cast<std::size_t>(i)];
        line += ' ';
        line += kHex[b >> 4];
        line += kHex[b & 0x0F];
    }
    if (frame.length > kept) line += " ... (" + std::to_string(frame.length) + " bytes)";
    if (kept == 0) line += " -";
    if (frame.direction == TrafficDirection::rx) {
        char tail[80];
        const int code = trafficExceptionCode(frame);
        char codeText[16] = "";
        if (code >= 0) std::snprintf(codeText, sizeof codeText, " %d", code);
        std::snprintf(tail, sizeof tail, " %s%s (%.1f ms)", trafficVerdictName(frame.verdict),
                      codeText,
                      static_cast<double>(std::max<std::int64_t>(frame.delayUs, 0)) / 1000.0);
        line += tail;
    } else if (frame.verdict != TrafficVerdict::sent) {
        line += ' ';
        line += trafficVerdictName(frame.verdict);
    }
    return line;
}

void TrafficCapture::add(const std::uint8_t* data, int count) {
    if (count <= 0) return;
    const int capacity = static_cast<int>(bytes.size());
    const int room = capacity - std::min(length, capacity);
    const int copied = std::min(count, room);
    if (copied > 0) std::memcpy(bytes.data() + length, data, static_cast<std::size_t>(copied));
    length += count;
}

TrafficRing::TrafficRing(std::size_t capacity)
    : frames_(std::max<std::size_t>(capacity, 1)),
      wallMinusMonoUs_(clockUs(CLOCK_REALTIME) - clockUs(CLOCK_MONOTONIC)) {}

std::int64_t TrafficRing::nowUs() {
    return clockUs(CLOCK_MONOTONIC);
}

TrafficFrame* TrafficRing::begin(TrafficDirection direction, TrafficFraming framing, int slave,
                                 int result, const std::uint8_t* bytes, int length,
                                 std::int64_t now) {
    const std::uint64_t sequence = next_.load(std::memory_order_relaxed);
    TrafficFrame& f = frames_[(sequence - 1) % frames_.size()];
    f.sequence = sequence;
    f.monoUs = now;
    f.wallUs = now + wallMinusMonoUs_;
    f.direction = direction;
    f.framing = framing;
    f.result = result;
    f.slave = slave;
    f.length = std::max(length, 0);
    if (bytes != nullptr && f.length > 0)
        std::memcpy(f.bytes.data(), bytes, static_cast<std::size_t>(f.kept()));
    return &f;
}

std::int64_t TrafficRing::recordRequest(TrafficFraming framing, const std::uint8_t* bytes,
                                        int length, int slave, int result) {
    const std::int64_t now = nowUs();
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        missed_.fetch_add(1, std::memory_order_relaxed);
        return now;
    }
    TrafficFrame* f = begin(TrafficDirection::tx, framing, slave, result, bytes, length, now);
    f->verdict = result == MBR_SUCCESS ? TrafficVerdict::sent : TrafficVerdict::notSent;
    f->delayUs = -1;
    next_.store(f->sequence + 1, std::memory_order_release);
    return now;
}

void TrafficRing::recordReply(TrafficFraming framing, const std::uint8_t* bytes, int length,
                              int slave, int result, TrafficVerdict verdict,
                              std::int64_t requestEndUs) {
    const std::int64_t now = nowUs();
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        missed_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    TrafficFrame* f = begin(TrafficDirection::rx, framing, slave, result, bytes, length, now);
    f->verdict = verdict;
    f->delayUs = std::max<std::int64_t>(now - requestEndUs, 0);
    next_.store(f->sequence + 1, std::memory_order_release);
}

std::size_t TrafficRing::readSince(std::uint64_t after, std::vector<TrafficFrame>& out,
                                   std::size_t max) const {
    std::lock_guard lock(mutex_);
    const std::uint64_t last = next_.load(std::memory_order_relaxed) - 1;
    const std::uint64_t oldest = last >= frames_.size() ? last - frames_.size() + 1 : 1;
    std::uint64_t from = std::max(after + 1, oldest);
    if (from > last || max == 0) return 0;
    if (last - from + 1 > max) from = last - max + 1;  // the newest `max`
    for (std::uint64_t s = from; s <= last; ++s)
        out.push_back(frames_[(s - 1) % frames_.size()]);
    return static_cast<std::size_t>(last - from + 1);
}

}  // namespace kvx
