#include "gpu/StoragePool.h"

#include <new>

namespace gpu {

StoragePool::Block StoragePool::acquire(size_t size) {
    {
        std::lock_guard lock(mutex_);
        for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
            if (it->size == size) {
                Block block = std::move(*it);
                kept_.erase(std::next(it).base());
                return block;
            }
        }
    }
    Block block;
    // Running out of memory yields no block (and no texture), never an exception.
    block.bytes.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    block.size = block.bytes ? size : 0;
    return block;
}

void StoragePool::release(Block block) {
    if (!block.bytes) return;
    std::lock_guard lock(mutex_);
    if (kept_.size() >= maxKeptBlocks_) kept_.erase(kept_.begin());  // drop the oldest
    kept_.push_back(std::move(block));
}

size_t StoragePool::keptBlocks() const {
    std::lock_guard lock(mutex_);
    return kept_.size();
}

}  // namespace gpu
