#include "relay/PixelRegion.h"

#include <algorithm>
#include <cmath>

namespace {

// Rounds an edge to the nearest pixel boundary inside [0, limit].
uint32_t clampedEdge(double edge, uint32_t limit) {
    return static_cast<uint32_t>(std::clamp(std::round(edge), 0.0, static_cast<double>(limit)));
}

}  // namespace

std::optional<PixelRegion> PixelRegion::fromRect(const gpu::Rect& rect, uint32_t textureWidth,
                                                 uint32_t textureHeight) {
    if (!std::isfinite(rect.x) || !std::isfinite(rect.y) || !std::isfinite(rect.width) ||
        !std::isfinite(rect.height)) {
        return std::nullopt;
    }
    const uint32_t left = clampedEdge(rect.x, textureWidth);
    const uint32_t right = clampedEdge(rect.x + rect.width, textureWidth);
    const uint32_t top = clampedEdge(rect.y, textureHeight);
    const uint32_t bottom = clampedEdge(rect.y + rect.height, textureHeight);
    if (right <= left || bottom <= top) return std::nullopt;
    return PixelRegion{left, top, right - left, bottom - top};
}
