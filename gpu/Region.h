#pragma once

#include <cstdint>

namespace gpu {

struct Origin {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t z = 0;
};

struct Size {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 1;
};

struct Region {
    Origin origin;
    Size size;

    static Region make2D(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
        return Region{Origin{x, y, 0}, Size{width, height, 1}};
    }
};

// A floating-point rectangle, as relay servers take their image region.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

}  // namespace gpu
