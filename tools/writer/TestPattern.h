#pragma once

#include <cstdint>
#include <vector>

// A recognisable BGRA picture: four quadrants of distinct colours (red, green, blue and a warm
// yellow, each with distinct red, green and blue values, so that a channel swap or a flip shows)
// and a white bar that moves with the frame number.
struct TestPattern {
    struct Bgra {
        uint8_t b, g, r, a;
    };
    static constexpr Bgra topLeft{40, 30, 220, 255};       // red
    static constexpr Bgra topRight{50, 200, 20, 255};      // green
    static constexpr Bgra bottomLeft{230, 60, 10, 255};    // blue
    static constexpr Bgra bottomRight{20, 180, 250, 255};  // yellow
    static constexpr Bgra bar{255, 255, 255, 255};

    static Bgra quadrantColour(uint32_t x, uint32_t y, uint32_t width, uint32_t height);

    // The quadrants alone, `bytesPerRow` apart (padding bytes are 0x5A).
    static std::vector<uint8_t> quadrants(uint32_t width, uint32_t height, uint32_t bytesPerRow);
    // Column of the moving bar for a frame.
    static uint32_t barColumn(uint32_t frameNumber, uint32_t width);
    // Draws the frame's bar into `pixels` after restoring the previous frame's column.
    static void moveBar(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bytesPerRow,
                        uint32_t previousFrame, uint32_t frameNumber);
};
