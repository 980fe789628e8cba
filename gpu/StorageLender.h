#pragma once

#include <cstdint>
#include <memory>

namespace gpu {

// Memory that another part of the program lends for a new texture's texels: a frame copied in
// there once can leave the program from there, without a second copy. Asked on the thread that
// makes textures.
class StorageLender {
  public:
    virtual ~StorageLender() = default;
    // Room for the tightly packed rows of a `width` × `height` texture, lent until the returned
    // pointer is released (on any thread); none when there is nothing to lend.
    virtual std::shared_ptr<uint8_t> lend(uint32_t width, uint32_t height) = 0;
};

}  // namespace gpu
