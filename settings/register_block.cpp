#include "settings/register_block.h"

namespace kvx {

RegisterBlock& BlockStore::block(BlockRange range) {
    auto [it, added] = blocks_.try_emplace({range.first, range.count});
    if (added) {
        it->second.range = range;
        it->second.values.assign(static_cast<std::size_t>(range.count), 0);
    }
    return it->second;
}

int BlockStore::read(DeviceLink& link, int slave, BlockRange range) {
    RegisterBlock& b = block(range);
    const int r = link.readHoldingRegisters(slave, range.first, b.values.data(), range.count);
    b.read = r == 0;
    return r;
}

int BlockStore::write(DeviceLink& link, int slave, BlockRange range) {
    RegisterBlock& b = block(range);
    return link.writeMultipleRegisters(slave, range.first, b.values.data(), range.count);
}

}  // namespace kvx
