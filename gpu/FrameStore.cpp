#include "gpu/FrameStore.h"

namespace gpu {

FrameStore::FrameStore(Token, FrameStoreFaults faults)
    : faults_(std::move(faults)), pool_(std::make_shared<StoragePool>(keptStorageBlocks)) {}

std::shared_ptr<FrameStore> FrameStore::create(FrameStoreFaults faults) {
    return std::make_shared<FrameStore>(Token{}, std::move(faults));
}

std::shared_ptr<Texture> FrameStore::newTexture(uint32_t width, uint32_t height) {
    if (faults_.onNewTexture) faults_.onNewTexture();
    if (width == 0 || height == 0 || width > maxTextureDimension || height > maxTextureDimension) {
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

}  // namespace gpu
