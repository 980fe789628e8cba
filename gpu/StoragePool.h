#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace gpu {

// Keeps the pixel storage of released textures for the next texture of the same size, so that a
// new frame is copied into pages that are already mapped instead of freshly faulted ones.
class StoragePool {
  public:
    struct Block {
        std::unique_ptr<uint8_t[]> bytes;
        size_t size = 0;
    };

    explicit StoragePool(size_t maxKeptBlocks) : maxKeptBlocks_(maxKeptBlocks) {}

    // A block of exactly `size` bytes, or an empty block when memory runs out.
    Block acquire(size_t size);
    void release(Block block);

    size_t keptBlocks() const;

  private:
    mutable std::mutex mutex_;  // textures may be released by any holder
    std::vector<Block> kept_;
    size_t maxKeptBlocks_;
};

}  // namespace gpu
