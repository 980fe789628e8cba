#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "gpu/StoragePool.h"

namespace gpu {

// A 2D BGRA texture with managed storage: its texels live in CPU memory as tightly packed
// rows, and each GPU consumer uploads them itself once per texture object.
class Texture {
  public:
    Texture(uint32_t width, uint32_t height, StoragePool::Block storage,
            std::shared_ptr<StoragePool> pool);
    // Texels in memory lent by another part of the program (see StorageLender).
    Texture(uint32_t width, uint32_t height, std::shared_ptr<uint8_t> lentStorage);
    ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    size_t bytesPerRow() const { return size_t{width_} * 4; }

    // Copies all texels in from `bytes`, whose rows are `bytesPerRow` apart.
    void writePixels(const void* bytes, size_t bytesPerRow);
    // Copies all texels out into `out`, whose rows are `bytesPerRow` apart.
    void readPixels(void* out, size_t bytesPerRow) const;

    // The managed storage itself, for consumers that upload or copy the whole texture.
    const uint8_t* contents() const { return bytes_; }
    uint8_t* mutableContents() { return bytes_; }

  private:
    uint32_t width_;
    uint32_t height_;
    StoragePool::Block storage_;
    std::shared_ptr<StoragePool> pool_;
    std::shared_ptr<uint8_t> lentStorage_;
    uint8_t* bytes_;  // in one of the two above
};

}  // namespace gpu
