#include "relay/FrameCopy.h"

#include <cstring>

void copyFrameRows(const uint8_t* source, size_t sourceStride, const PixelRegion& region,
                   bool flipped, uint8_t* destination, size_t destinationStride) {
    const size_t rowBytes = size_t{region.width} * 4;
    const uint8_t* first = source + size_t{region.y} * sourceStride + size_t{region.x} * 4;
    if (flipped && rowBytes == sourceStride && rowBytes == destinationStride) {
        std::memcpy(destination, first, rowBytes * region.height);  // one block, the common case
        return;
    }
    for (uint32_t row = 0; row < region.height; ++row) {
        const uint32_t from = flipped ? row : region.height - 1 - row;
        std::memcpy(destination + size_t{row} * destinationStride,
                    first + size_t{from} * sourceStride, rowBytes);
    }
}
