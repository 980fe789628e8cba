#pragma once

#include <cstddef>
#include <cstdint>

// The size of the frames a relay stream carries; rows are tightly packed BGRA.
struct FrameSize {
    uint32_t width = 0;
    uint32_t height = 0;

    size_t stride() const { return size_t{width} * 4; }
    size_t bytes() const { return stride() * height; }
    bool operator==(const FrameSize&) const = default;
};
