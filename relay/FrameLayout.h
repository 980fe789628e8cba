#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "relay/FrameSize.h"

// Where the bytes of one frame lie in a consumer's buffer, for one pixel format and size, and how
// a BGRA picture gets there. Every format fills a single block: browsers' capture code reads the
// first block alone. YUV rows are padded to multiples of 4 bytes; each chroma plane follows the
// plane before it directly, with half the luma stride in I420 and all of it in NV12 (the V4L2
// convention that capture code follows). GStreamer lays these formats out alike where the height
// is even and, for I420, the width a multiple of 8.
struct FrameLayout {
    struct Plane {
        size_t offset = 0;
        size_t stride = 0;
    };

    uint32_t format = 0;  // an SPA video format: BGRA, BGRx, I420, NV12 or YUY2
    FrameSize size;
    bool fullRange = false;  // YUV levels over 0-255 rather than 16-235 (both BT.601)
    std::array<Plane, 3> planes{};
    size_t bytes = 0;

    // None for a format or range that is not relayed, or an empty size.
    static std::optional<FrameLayout> make(uint32_t format, FrameSize size, bool fullRange = false);

    size_t stride() const { return planes[0].stride; }
    // Writes a `size` BGRA image whose rows are `sourceStride` bytes apart into `destination`,
    // which holds `bytes`, converting in one pass where the format is YUV.
    void write(const uint8_t* source, size_t sourceStride, uint8_t* destination) const;
    // The same for a BGRA image of any size `from`, scaled to `size` where it differs: libyuv's
    // box filter, which averages at 2:1 and 4:1, or at whole odd factors (3:1, as from 4K to
    // 720p) the middle pixel of each block.
    // The source is read once: scaled straight into BGRA rows or, for YUV, a band of rows at a time
    // into `scratch`, each band converted while it is still in the cache.
    void write(const uint8_t* source, size_t sourceStride, FrameSize from, uint8_t* destination,
               std::vector<uint8_t>& scratch) const;

  private:
    // Converts `rows` BGRA rows, which are picture rows `firstRow` (even) on, into the YUV
    // planes of `destination`.
    void convertRows(const uint8_t* source, size_t sourceStride, uint32_t firstRow, uint32_t rows,
                     uint8_t* destination) const;
};
