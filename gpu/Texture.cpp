#include "gpu/Texture.h"

#include <cstring>

namespace gpu {

Texture::Texture(uint32_t width, uint32_t height, StoragePool::Block storage,
                 std::shared_ptr<StoragePool> pool)
    : width_(width),
      height_(height),
      storage_(std::move(storage)),
      pool_(std::move(pool)),
      bytes_(storage_.bytes.get()) {}

Texture::Texture(uint32_t width, uint32_t height, std::shared_ptr<uint8_t> lentStorage)
    : width_(width),
      height_(height),
      lentStorage_(std::move(lentStorage)),
      bytes_(lentStorage_.get()) {}

Texture::~Texture() {
    if (pool_) pool_->release(std::move(storage_));
}

bool Texture::contains(const Region& region, int mipmapLevel) const {
    const auto& o = region.origin;
    const auto& s = region.size;
    return mipmapLevel == 0 && o.z == 0 && s.depth == 1 && uint64_t{o.x} + s.width <= width_ &&
           uint64_t{o.y} + s.height <= height_;
}

void Texture::replaceRegion(const Region& region, int mipmapLevel, const void* bytes,
                            size_t bytesPerRow) {
    if (!contains(region, mipmapLevel) || region.size.width == 0 || region.size.height == 0) {
        return;
    }
    const size_t rowBytes = size_t{region.size.width} * 4;
    const auto* source = static_cast<const uint8_t*>(bytes);
    uint8_t* target =
        bytes_ + size_t{region.origin.y} * this->bytesPerRow() + size_t{region.origin.x} * 4;
    if (bytesPerRow == rowBytes && rowBytes == this->bytesPerRow()) {
        std::memcpy(target, source, rowBytes * region.size.height);
        return;
    }
    for (uint32_t row = 0; row < region.size.height; ++row) {
        std::memcpy(target + row * this->bytesPerRow(), source + row * bytesPerRow, rowBytes);
    }
}

void Texture::getBytes(void* out, size_t bytesPerRow, const Region& region, int mipmapLevel) const {
    if (!contains(region, mipmapLevel)) return;
    const size_t rowBytes = size_t{region.size.width} * 4;
    auto* target = static_cast<uint8_t*>(out);
    const uint8_t* source =
        bytes_ + size_t{region.origin.y} * this->bytesPerRow() + size_t{region.origin.x} * 4;
    for (uint32_t row = 0; row < region.size.height; ++row) {
        std::memcpy(target + row * bytesPerRow, source + row * this->bytesPerRow(), rowBytes);
    }
}

}  // namespace gpu
