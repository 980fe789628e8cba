#pragma once

#include <memory>

#include "gpu/Texture.h"
#include "relay/FrameSize.h"
#include "relay/PixelRegion.h"

// One frame waiting to leave: the part of a texture to send and the order of its rows.
struct RelayFrame {
    std::shared_ptr<gpu::Texture> texture;
    PixelRegion region;
    bool flipped = true;

    FrameSize size() const { return FrameSize{region.width, region.height}; }
};
