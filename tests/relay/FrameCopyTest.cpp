#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "relay/FrameCopy.h"
#include "relay/PixelRegion.h"

namespace {

// An image whose every byte tells its row, column and channel apart.
std::vector<uint8_t> numberedImage(uint32_t width, uint32_t height, size_t stride) {
    std::vector<uint8_t> bytes(stride * height, 0xEE);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (uint32_t c = 0; c < 4; ++c) {
                bytes[y * stride + x * 4 + c] = static_cast<uint8_t>(y * 37 + x * 5 + c);
            }
        }
    }
    return bytes;
}

uint8_t sourceByte(uint32_t x, uint32_t y, uint32_t c) {
    return static_cast<uint8_t>(y * 37 + x * 5 + c);
}

}  // namespace

TEST(FrameCopy, FlippedKeepsRowOrderAndUnflippedReversesIt) {
    const uint32_t width = 7;  // rows of 28 bytes: not a multiple of 16
    const uint32_t height = 5;
    const auto source = numberedImage(width, height, width * 4);
    for (const bool flipped : {true, false}) {
        std::vector<uint8_t> destination(width * 4 * height, 0);
        copyFrameRows(source.data(), width * 4, PixelRegion{0, 0, width, height}, flipped,
                      destination.data(), width * 4);
        for (uint32_t y = 0; y < height; ++y) {
            const uint32_t from = flipped ? y : height - 1 - y;
            for (uint32_t x = 0; x < width; ++x) {
                for (uint32_t c = 0; c < 4; ++c) {
                    ASSERT_EQ(destination[(y * width + x) * 4 + c], sourceByte(x, from, c))
                        << "flipped " << flipped << " at (" << x << ", " << y << ")";
                }
            }
        }
    }
}

TEST(FrameCopy, RegionAndStridesLeaveBytesOutsideTheRowsAlone) {
    const uint32_t width = 9;
    const uint32_t height = 6;
    const auto source = numberedImage(width, height, width * 4);
    const PixelRegion region{2, 1, 5, 3};
    const size_t destinationStride = region.width * 4 + 8;  // padded destination rows
    for (const bool flipped : {true, false}) {
        std::vector<uint8_t> destination(destinationStride * region.height, 0xAB);
        copyFrameRows(source.data(), width * 4, region, flipped, destination.data(),
                      destinationStride);
        for (uint32_t y = 0; y < region.height; ++y) {
            const uint32_t from = region.y + (flipped ? y : region.height - 1 - y);
            for (uint32_t x = 0; x < region.width; ++x) {
                for (uint32_t c = 0; c < 4; ++c) {
                    ASSERT_EQ(destination[y * destinationStride + x * 4 + c],
                              sourceByte(region.x + x, from, c));
                }
            }
            for (size_t pad = region.width * 4; pad < destinationStride; ++pad) {
                ASSERT_EQ(destination[y * destinationStride + pad], 0xAB) << "row " << y;
            }
        }
    }
}

TEST(PixelRegion, RoundsClipsAndRejectsWhatShowsNothing) {
    auto whole = PixelRegion::fromRect({0, 0, 640, 480}, 640, 480);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->width, 640u);
    EXPECT_EQ(whole->height, 480u);

    auto inner = PixelRegion::fromRect({10.4, 20.6, 100.2, 50.0}, 640, 480);
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->x, 10u);
    EXPECT_EQ(inner->y, 21u);
    EXPECT_EQ(inner->width, 101u);  // right edge 110.6 rounds to 111
    EXPECT_EQ(inner->height, 50u);  // bottom edge 70.6 rounds to 71

    auto overhanging = PixelRegion::fromRect({-30, 400, 100, 500}, 640, 480);
    ASSERT_TRUE(overhanging);
    EXPECT_EQ(overhanging->x, 0u);
    EXPECT_EQ(overhanging->y, 400u);
    EXPECT_EQ(overhanging->width, 70u);
    EXPECT_EQ(overhanging->height, 80u);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(PixelRegion::fromRect({0, 0, 0, 10}, 640, 480));
    EXPECT_FALSE(PixelRegion::fromRect({700, 0, 10, 10}, 640, 480));
    EXPECT_FALSE(PixelRegion::fromRect({0, 0, -5, 10}, 640, 480));
    EXPECT_FALSE(PixelRegion::fromRect({nan, 0, 10, 10}, 640, 480));
    EXPECT_FALSE(PixelRegion::fromRect({0, 0, infinity, 10}, 640, 480));
    EXPECT_FALSE(PixelRegion::fromRect({0, 0, 10, 10}, 0, 0));
}
