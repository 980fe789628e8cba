#pragma once

#include <memory>

#include "gpu/Texture.h"
#include "relay/FrameSize.h"

// One frame waiting to leave: a whole texture, row 0 at the top.
struct RelayFrame {
    std::shared_ptr<gpu::Texture> texture;

    FrameSize size() const { return FrameSize{texture->width(), texture->height()}; }
};
