#include "tools/writer/TestPattern.h"

#include <cstring>

namespace {
constexpr uint32_t barWidth = 8;
}

TestPattern::Bgra TestPattern::quadrantColour(uint32_t x, uint32_t y, uint32_t width,
                                              uint32_t height) {
    const bool right = x >= width / 2;
    const bool bottom = y >= height / 2;
    if (!bottom) return right ? topRight : topLeft;
    return right ? bottomRight : bottomLeft;
}

std::vector<uint8_t> TestPattern::quadrants(uint32_t width, uint32_t height, uint32_t bytesPerRow) {
    std::vector<uint8_t> pixels(size_t{bytesPerRow} * height, 0x5A);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = pixels.data() + size_t{y} * bytesPerRow;
        for (uint32_t x = 0; x < width; ++x) {
            const Bgra colour = quadrantColour(x, y, width, height);
            std::memcpy(row + size_t{x} * 4, &colour, 4);
        }
    }
    return pixels;
}

uint32_t TestPattern::barColumn(uint32_t frameNumber, uint32_t width) {
    if (width <= barWidth) return 0;
    return (frameNumber * 4) % (width - barWidth);
}

void TestPattern::moveBar(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bytesPerRow,
                          uint32_t previousFrame, uint32_t frameNumber) {
    const uint32_t oldColumn = barColumn(previousFrame, width);
    const uint32_t newColumn = barColumn(frameNumber, width);
    const uint32_t span = width < barWidth ? width : barWidth;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = pixels + size_t{y} * bytesPerRow;
        for (uint32_t x = oldColumn; x < oldColumn + span; ++x) {
            const Bgra colour = quadrantColour(x, y, width, height);
            std::memcpy(row + size_t{x} * 4, &colour, 4);
        }
        for (uint32_t x = newColumn; x < newColumn + span; ++x) {
            std::memcpy(row + size_t{x} * 4, &bar, 4);
        }
    }
}
