#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "gpu/StorageLender.h"
#include "gpu/StoragePool.h"
#include "gpu/Texture.h"

namespace gpu {

// Hooks a test can give a frame store.
struct FrameStoreFaults {
    // Runs as each texture is asked for, so a test can act between a frame's two lock windows.
    std::function<void()> onNewTexture;
};

// Makes the textures frames are copied into, keeping released textures' storage for reuse.
class FrameStore {
  public:
    static constexpr uint32_t maxTextureDimension = 16384;
    // Released textures whose storage is kept for reuse.
    static constexpr size_t keptStorageBlocks = 2;

    struct Token {};  // restricts construction to the factory below
    FrameStore(Token, FrameStoreFaults faults);

    static std::shared_ptr<FrameStore> create(FrameStoreFaults faults = {});

    FrameStoreFaults& faults() { return faults_; }

    // A new BGRA texture whose texels are unspecified until written; none when a side
    // exceeds `maxTextureDimension`, a side is 0, or memory runs out.
    std::shared_ptr<Texture> newTexture(uint32_t width, uint32_t height);
    // Where new textures' texels go first, while it lives and has room; the pool otherwise.
    // On the thread that makes textures.
    void setStorageLender(std::weak_ptr<StorageLender> lender) { lender_ = std::move(lender); }

    const StoragePool& storagePool() const { return *pool_; }

  private:
    FrameStoreFaults faults_;
    std::shared_ptr<StoragePool> pool_;
    std::weak_ptr<StorageLender> lender_;
};

}  // namespace gpu
