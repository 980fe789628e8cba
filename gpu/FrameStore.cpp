#include "gpu/FrameStore.h"

namespace gpu {

FrameStore::FrameStore(Token, std::string name, FrameStoreFaults faults)
    : name_(std::move(name)),
      faults_(faults),
      pool_(std::make_shared<StoragePool>(keptStorageBlocks)) {}

std::shared_ptr<FrameStore> FrameStore::create(std::string name, FrameStoreFaults faults) {
    return std::make_shared<FrameStore>(Token{}, std::move(name), faults);
}

std::shared_ptr<CommandQueue> FrameStore::newCommandQueue() {
    if (faults_.noCommandQueue) return nullptr;
    return std::make_shared<CommandQueue>(shared_from_this());
}

std::shared_ptr<Texture> FrameStore::newTexture(uint32_t width, uint32_t height) {
    if (faults_.onNewTexture) faults_.onNewTexture();
    if (faults_.noTexture || width == 0 || height == 0 || width > maxTextureDimension ||
        height > maxTextureDimension) {
        return nullptr;
    }
    if (auto lender = lender_.lock()) {
        if (auto lent = lender->lend(width, height)) {
            return std::make_shared<Texture>(width, height, std::move(lent));
        }
    }
    auto storage = pool_->acquire(size_t{width} * height * 4);
    if (!storage.bytes) return nullptr;
    return std::make_shared<Texture>(width, height, std::move(storage), pool_);
}

std::shared_ptr<CommandBuffer> CommandQueue::commandBuffer() {
    if (frameStore_->faults().noCommandBuffer) return nullptr;
    return std::make_shared<CommandBuffer>();
}

}  // namespace gpu
