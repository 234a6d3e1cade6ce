#pragma once
// Request and reply frames for the simulator tests, written out as the bytes on the line.
#include <cstdint>
#include <vector>

#include "link/crc16.h"

namespace kvx::sim::test {

using Bytes = std::vector<std::uint8_t>;

// body followed by its CRC, low byte first.
inline Bytes frame(Bytes body) {
    const std::size_t length = body.size();
    body.resize(length + 2);
    appendCrc16(body.data(), length);
    return body;
}

}  // namespace kvx::sim::test
