#include "relay/FrameCopy.h"

#include <cstring>

void copyFrameRows(const uint8_t* source, size_t sourceStride, FrameSize size, uint8_t* destination,
                   size_t destinationStride) {
    const size_t rowBytes = size.stride();
    if (rowBytes == sourceStride && rowBytes == destinationStride) {
        std::memcpy(destination, source, size.bytes());  // one block, the common case
        return;
    }
    for (uint32_t row = 0; row < size.height; ++row) {
        std::memcpy(destination + size_t{row} * destinationStride,
                    source + size_t{row} * sourceStride, rowBytes);
    }
}
