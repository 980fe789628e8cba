#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gpu/CommandQueue.h"
#include "gpu/StorageLender.h"
#include "gpu/StoragePool.h"
#include "gpu/Texture.h"

namespace gpu {

// Failures a test can ask a device for, to drive the paths where the GPU gives nothing.
struct FrameStoreFaults {
    bool noCommandQueue = false;
    bool noTexture = false;
    bool noCommandBuffer = false;
    // Runs as each texture is asked for, so a test can act between a frame's two lock windows.
    std::function<void()> onNewTexture;
};

class FrameStore : public std::enable_shared_from_this<FrameStore> {
  public:
    static constexpr uint32_t maxTextureDimension = 16384;
    // Released textures whose storage is kept for reuse.
    static constexpr size_t keptStorageBlocks = 2;

    struct Token {};  // restricts construction to the factories below
    FrameStore(Token, std::string name, FrameStoreFaults faults);

    // The system's OpenGL 3.3 core device, or none when no such context can be made.
    // Needs a QGuiApplication; defined in the OpenGL part of this layer.
    static std::shared_ptr<FrameStore> systemDefault();
    // A device with CPU storage only, for tools, benchmarks and tests.
    static std::shared_ptr<FrameStore> create(std::string name = "CPU", FrameStoreFaults faults = {});

    const std::string& name() const { return name_; }
    FrameStoreFaults& faults() { return faults_; }

    std::shared_ptr<CommandQueue> newCommandQueue();
    // A new BGRA8Unorm texture whose texels are unspecified until written; none when a side
    // exceeds `maxTextureDimension`, a side is 0, or memory runs out.
    std::shared_ptr<Texture> newTexture(uint32_t width, uint32_t height);
    // Where new textures' texels go first, while it lives and has room; the pool otherwise.
    // On the thread that makes textures.
    void setStorageLender(std::weak_ptr<StorageLender> lender) { lender_ = std::move(lender); }

    const StoragePool& storagePool() const { return *pool_; }

  private:
    std::string name_;
    FrameStoreFaults faults_;
    std::shared_ptr<StoragePool> pool_;
    std::weak_ptr<StorageLender> lender_;
};

}  // namespace gpu
