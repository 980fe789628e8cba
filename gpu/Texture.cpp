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

void Texture::writePixels(const void* bytes, size_t bytesPerRow) {
    const auto* source = static_cast<const uint8_t*>(bytes);
    if (bytesPerRow == this->bytesPerRow()) {
        std::memcpy(bytes_, source, this->bytesPerRow() * height_);
        return;
    }
    for (uint32_t row = 0; row < height_; ++row) {
        std::memcpy(bytes_ + row * this->bytesPerRow(), source + row * bytesPerRow,
                    this->bytesPerRow());
    }
}

void Texture::readPixels(void* out, size_t bytesPerRow) const {
    auto* target = static_cast<uint8_t*>(out);
    for (uint32_t row = 0; row < height_; ++row) {
        std::memcpy(target + row * bytesPerRow, bytes_ + row * this->bytesPerRow(),
                    this->bytesPerRow());
    }
}

}  // namespace gpu
