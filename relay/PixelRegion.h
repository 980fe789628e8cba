#pragma once

#include <cstdint>
#include <optional>

#include "gpu/Region.h"

// The whole-pixel part of a texture that a relayed frame shows.
struct PixelRegion {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;

    // `rect` rounded to whole pixels and clipped to a `textureWidth` x `textureHeight` texture;
    // none when nothing of it lies inside the texture or it is not a finite rectangle.
    static std::optional<PixelRegion> fromRect(const gpu::Rect& rect, uint32_t textureWidth,
                                               uint32_t textureHeight);
};
