#pragma once
// Cuts the byte stream a slave receives into request frames. A frame's length follows from
// its function code (and byte count); a function the slave does not know is taken to end
// when the line falls quiet. A frame that stops short is dropped once the line has been
// quiet for the inter-byte bound.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kvx::sim {

// The longest frame a length can be counted for: function 23 with a byte count of 255.
inline constexpr std::size_t kMaxRequestBytes = 268;

// Length of the request starting at buf: > 0 the whole frame, 0 more bytes are needed to
// tell, -1 the function code does not fix a length.
int requestLength(const std::uint8_t* buf, std::size_t have);

struct ReceivedFrame {
    std::vector<std::uint8_t> bytes;
    std::int64_t firstUs = 0;  // arrival of its first and last byte
    std::int64_t lastUs = 0;
};

class RequestFramer {
  public:
    // gapUs: quiet time that ends a frame of unknown length; partialTimeoutUs: how long a
    // started frame may wait for its next byte.
    explicit RequestFramer(std::int64_t gapUs = 20000, std::int64_t partialTimeoutUs = 50000)
        : gapUs_(gapUs), partialTimeoutUs_(partialTimeoutUs) {}

    void feed(const std::uint8_t* data, std::size_t n, std::int64_t nowUs);
    // A complete frame, if one is ready at nowUs.
    bool take(std::int64_t nowUs, ReceivedFrame& out);
    // When take() may next succeed on time alone; -1 when only new bytes can change anything.
    std::int64_t deadlineUs() const;
    // Drops what is buffered and everything that follows until the line has been quiet for
    // the gap: after a damaged frame the next byte may be anywhere inside a frame.
    void resync(std::int64_t nowUs);
    void reset();

    std::size_t buffered() const { return buffer_.size(); }
    int partialDrops() const { return partialDrops_; }

  private:
    std::int64_t gapUs_, partialTimeoutUs_;
    std::vector<std::uint8_t> buffer_;
    std::int64_t firstUs_ = 0, lastUs_ = 0;
    bool resyncing_ = false;
    std::int64_t resyncLastUs_ = 0;
    int partialDrops_ = 0;
};

}  // namespace kvx::sim
