#pragma once
// The traffic record: the last frames the masters put on the line and took off it, each with
// its time and, for a reply, the master's verdict on it and how long it took. A bounded ring,
// allocated once when switched on; while it is off the masters only test a null pointer, so
// the poll path neither allocates nor formats anything for it.
//
// A master records a request once it has been written (or could not be), and the reply once
// it has judged it, with the bytes it read and the delay from the request's end on the line to
// the verdict. A reply that never came is recorded with no bytes. What the master read and
// passed over on the way (an adapter's echo of the request, noise before it) is recorded as
// frames of their own, before the reply.
//
// The ring is written by the thread that polls and read by whoever watches; a write never
// waits for a reader: a frame that comes while a reader is copying is counted as missed.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kvx {

// Bytes kept of a frame: a whole RTU frame (256) or MBAP frame (260).
inline constexpr int kTrafficFrameBytes = 260;
// Frames kept by default: a few minutes of polling at four requests a tick.
inline constexpr std::size_t kTrafficRingFrames = 4096;

enum class TrafficDirection : std::uint8_t {
    tx,  // a request, master to slave
    rx,  // what came back
};

enum class TrafficFraming : std::uint8_t {
    rtu,   // address, function, data, CRC (a serial line, or RTU over TCP)
    mbap,  // MBAP header, unit id, function, data (Modbus TCP)
};

// What the master made of a frame. Requests are `sent` unless they could not be written.
enum class TrafficVerdict : std::uint8_t {
    sent,        // tx: on the line
    notSent,     // tx: the line was never quiet, or the write failed or timed out
    good,        // rx: the reply the master wanted
    timeout,     // rx: nothing came in time (also a gateway's 10/11)
    badCrc,      // rx: the CRC is wrong (MBAP: a damaged header)
    mismatch,    // rx: not an answer to the request: another transaction id (MBAP), a reply
                 //     of the wrong shape (MBR_REPLY_MISMATCH)
    exception,   // rx: the slave's exception reply; the line names its code
    ioFailure,   // rx: the channel failed, or the peer closed the connection
    passedOver,  // rx: a late answer to an earlier, given-up request (MBAP), skipped
    // Appended, so the numbers of the ones above stay what they were.
    wrongSlave,     // rx: a reply from another slave address (unit id)
    wrongFunction,  // rx: a reply to another function
    truncated,      // rx: a reply began but not all of it came (time-out, or the peer closed)
    echo,           // rx: the adapter's copy of our own request, passed over
    noise,          // rx: bytes on a line that should have been quiet, read and dropped
};
inline constexpr int kTrafficVerdicts = 14;

struct TrafficFrame;

// The word the line format uses: "sent", "not-sent", "good", "timeout", "bad-crc",
// "mismatch", "exception", "io-failure", "passed-over", "wrong-slave", "wrong-function",
// "truncated", "echo", "noise".
const char* trafficVerdictName(TrafficVerdict verdict);
// The verdict of a reply judged with an MBR_* result code alone: the coarse one (a frame
// mismatch is `mismatch`, a time-out `timeout`). The masters refine it from the bytes they read.
TrafficVerdict trafficVerdictOf(int result);
// The exception code of an exception reply: from its bytes where they are kept, else from its
// result code; -1 when neither says.
int trafficExceptionCode(const TrafficFrame& frame);

struct TrafficFrame {
    std::uint64_t sequence = 0;  // from 1, one more for every frame recorded
    std::int64_t monoUs = 0;     // CLOCK_MONOTONIC, microseconds
    std::int64_t wallUs = 0;     // the same instant on the wall clock (microseconds since 1970)
    TrafficDirection direction = TrafficDirection::tx;
    TrafficFraming framing = TrafficFraming::rtu;
    TrafficVerdict verdict = TrafficVerdict::sent;
    int result = 0;             // rx: the MBR_* code the attempt ended with; tx: the write's
    std::int64_t delayUs = -1;  // rx: from the request's end to the verdict; tx: -1
    int slave = 0;              // the request's slave address (unit id)
    int length = 0;             // bytes of the frame; more than kTrafficFrameBytes: cut
    std::array<std::uint8_t, kTrafficFrameBytes> bytes{};

    int kept() const { return length < kTrafficFrameBytes ? length : kTrafficFrameBytes; }
};

// One line, no newline, in local time:
//   "HH:MM:SS.uuuuuu TX 01 04 00 00 00 2C F1 DE"
//   "HH:MM:SS.uuuuuu RX 01 04 58 ... 4A 1B good (105.2 ms)"
//   "HH:MM:SS.uuuuuu RX - timeout (3000.4 ms)"          (no bytes came)
//   "HH:MM:SS.uuuuuu RX 01 84 02 C2 C1 exception 2 (20.3 ms)"  (the slave's code)
//   "HH:MM:SS.uuuuuu TX 01 04 00 00 00 2C F1 DE not-sent"
// Bytes in upper-case hex; a frame cut at kTrafficFrameBytes ends in "... (N bytes)". The
// delay has one decimal. Stable: scripts and saved monitor files rely on it.
std::string formatTrafficLine(const TrafficFrame& frame);

// What a master has read of one reply so far: the bytes the ring keeps, and how many came.
// Room for two frames: an adapter's echo of the request may come before the reply, and each
// is recorded as a frame of its own.
struct TrafficCapture {
    std::array<std::uint8_t, 2 * kTrafficFrameBytes> bytes{};
    int length = 0;

    void clear() { length = 0; }
    void add(const std::uint8_t* data, int count);
};

class TrafficRing {
  public:
    // Allocates the frames now; nothing is allocated after.
    explicit TrafficRing(std::size_t capacity = kTrafficRingFrames);
    TrafficRing(const TrafficRing&) = delete;
    TrafficRing& operator=(const TrafficRing&) = delete;

    std::size_t capacity() const { return frames_.size(); }

    // Called by the masters. Never waits: while a reader holds the ring, the frame is
    // counted in missed() instead. Returns the request's time (monoUs), for its reply's delay.
    std::int64_t recordRequest(TrafficFraming framing, const std::uint8_t* bytes, int length,
                               int slave, int result);
    // `requestEndUs` is the monoUs of the request (requestSentUs()).
    void recordReply(TrafficFraming framing, const std::uint8_t* bytes, int length, int slave,
                     int result, TrafficVerdict verdict, std::int64_t requestEndUs);
    void recordReply(TrafficFraming framing, const std::uint8_t* bytes, int length, int slave,
                     int result, std::int64_t requestEndUs) {
        recordReply(framing, bytes, length, slave, result, trafficVerdictOf(result), requestEndUs);
    }

    // Appends to out the frames with a sequence above `after`, oldest first; of more than `max`
    // the newest `max`. Returns how many. Frames already overwritten are skipped: compare the
    // first sequence with after + 1. The caller's vector may allocate; the ring does not.
    std::size_t readSince(std::uint64_t after, std::vector<TrafficFrame>& out,
                          std::size_t max = SIZE_MAX) const;
    // The sequence of the newest frame, 0 while empty.
    std::uint64_t lastSequence() const { return next_.load(std::memory_order_acquire) - 1; }
    // Frames not recorded because a reader held the ring at the time.
    std::uint64_t missed() const { return missed_.load(std::memory_order_relaxed); }

    // CLOCK_MONOTONIC now, in microseconds (what monoUs holds).
    static std::int64_t nowUs();

  private:
    TrafficFrame* begin(TrafficDirection direction, TrafficFraming framing, int slave, int result,
                        const std::uint8_t* bytes, int length, std::int64_t now);

    std::vector<TrafficFrame> frames_;
    std::int64_t wallMinusMonoUs_ = 0;  // taken once, so wall times step as monoUs does
    mutable std::mutex mutex_;
    std::atomic<std::uint64_t> next_{1};
    std::atomic<std::uint64_t> missed_{0};
};

}  // namespace kvx
