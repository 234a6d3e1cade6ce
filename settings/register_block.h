#pragma once
// Register blocks of the settings screens: contiguous runs of holding registers that live for
// the whole run and keep their last read or written values between openings.
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "link/device_link.h"

namespace kvx {

struct BlockRange {
    int first;
    int count;
    bool contains(int reference) const { return reference >= first && reference < first + count; }
    int last() const { return first + count - 1; }
};

struct RegisterBlock {
    BlockRange range{};
    std::vector<std::int16_t> values;  // in reference order
    bool read = false;                 // the last read of it succeeded

    std::int16_t value(int reference) const { return values[index(reference)]; }
    void set(int reference, std::int16_t v) { values[index(reference)] = v; }

  private:
    std::size_t index(int reference) const {
        return static_cast<std::size_t>(reference - range.first);
    }
};

class BlockStore {
  public:
    // The block of this range, zeros until first read.
    RegisterBlock& block(BlockRange range);
    // Reads the block whole; a failure leaves zeros. 0 or the link's result.
    int read(DeviceLink& link, int slave, BlockRange range);
    // Writes the block whole with one request. 0 or the link's result.
    int write(DeviceLink& link, int slave, BlockRange range);

  private:
    std::map<std::pair<int, int>, RegisterBlock> blocks_;
};

}  // namespace kvx
