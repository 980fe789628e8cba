#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "relay/FrameSize.h"

// Scales a BGRA picture down by whole odd factors (3 from 4K to 720p) by taking the middle pixel
// of each block. libyuv takes one pixel of each block at such factors too, but the corner one,
// and waits for every source row to come from memory; this asks for the rows two output rows
// ahead, which from 4K more than halves the time.
class BlockCentreSampler {
  public:
    // None unless `from` is `to` times an odd number across and down, and larger.
    static std::optional<BlockCentreSampler> make(FrameSize from, FrameSize to);

    // Writes output rows `firstRow` to `firstRow + rows` of the scaled picture, taken from the
    // `from` picture at `source` whose rows are `sourceStride` bytes apart, to `destination`,
    // whose rows are `destinationStride` bytes apart.
    void sampleRows(const uint8_t* source, size_t sourceStride, uint32_t firstRow, uint32_t rows,
                    uint8_t* destination, size_t destinationStride) const;

  private:
    BlockCentreSampler(FrameSize to, uint32_t across, uint32_t down)
        : to_(to), across_(across), down_(down) {}

    FrameSize to_;
    uint32_t across_;  // source pixels to an output pixel in a row
    uint32_t down_;    // source rows to an output row
};
