#include "relay/BlockCentreSampler.h"

#include <algorithm>
#include <cstring>

namespace {

// Output rows ahead whose source row is asked for while one is written.
constexpr uint32_t rowsAhead = 2;
// Output pixels whose span of the later row is asked for at a time.
constexpr uint32_t pixelsPerFetch = 16;
constexpr size_t cacheLine = 64;

std::optional<uint32_t> oddFactor(uint32_t large, uint32_t small) {
    if (small == 0 || large % small != 0 || (large / small) % 2 == 0) return std::nullopt;
    return large / small;
}

}  // namespace

std::optional<BlockCentreSampler> BlockCentreSampler::make(FrameSize from, FrameSize to) {
    const auto across = oddFactor(from.width, to.width);
    const auto down = oddFactor(from.height, to.height);
    if (!across || !down || (*across == 1 && *down == 1)) return std::nullopt;
    return BlockCentreSampler(to, *across, *down);
}

void BlockCentreSampler::sampleRows(const uint8_t* source, size_t sourceStride, uint32_t firstRow,
                                    uint32_t rows, uint8_t* destination,
                                    size_t destinationStride) const {
    const size_t pixelBytes = 4;
    const size_t blockBytes = pixelBytes * across_;
    for (uint32_t row = firstRow; row < firstRow + rows; ++row) {
        const uint8_t* centres =
            source + sourceStride * (size_t{row} * down_ + down_ / 2) + pixelBytes * (across_ / 2);
        // The rows asked for ahead stay inside the picture: at its end, this row again.
        const uint32_t ahead = std::min(rowsAhead, to_.height - 1 - row);
        const size_t aheadBytes = sourceStride * down_ * ahead;
        uint8_t* out = destination + destinationStride * (row - firstRow);
        for (uint32_t x = 0; x < to_.width; x += pixelsPerFetch) {
            const uint8_t* block = centres + blockBytes * x;
            const uint32_t end = std::min(to_.width, x + pixelsPerFetch);
            // The fetched bytes lie in this block run's span of the later row.
            for (size_t offset = 0; offset < blockBytes * (end - x); offset += cacheLine)
                __builtin_prefetch(block + aheadBytes + offset);
            for (uint32_t i = x; i < end; ++i)
                std::memcpy(out + pixelBytes * i, centres + blockBytes * i, pixelBytes);
        }
    }
}
