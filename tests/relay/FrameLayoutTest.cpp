#include <gtest/gtest.h>
#include <spa/param/video/raw.h>

#include <numeric>

#include "relay/FrameLayout.h"

namespace {

using Plane = FrameLayout::Plane;

// YUV rows padded to 4 bytes, chroma planes of rounded-up halves, odd sizes included.
TEST(FrameLayout, PlanesAndBytesOfEachFormatAndSize) {
    const struct {
        uint32_t format;
        FrameSize size;
        bool fullRange;
        std::optional<std::array<Plane, 3>> planes;  // none: not relayed
        size_t bytes;
    } cases[] = {
        {SPA_VIDEO_FORMAT_BGRA, {637, 481}, false, {{Plane{0, 2548}}}, 2548 * 481},
        {SPA_VIDEO_FORMAT_BGRx, {1, 1}, false, {{Plane{0, 4}}}, 4},
        {SPA_VIDEO_FORMAT_I420,
         {637, 480},
         false,
         {{Plane{0, 640}, Plane{640 * 480, 320}, Plane{640 * 480 + 320 * 240, 320}}},
         460800},
        {SPA_VIDEO_FORMAT_I420, {5, 3}, false, {{Plane{0, 8}, Plane{24, 4}, Plane{32, 4}}}, 40},
        {SPA_VIDEO_FORMAT_I420, {4, 2}, true, {{Plane{0, 4}, Plane{8, 2}, Plane{10, 2}}}, 12},
        {SPA_VIDEO_FORMAT_NV12, {5, 3}, false, {{Plane{0, 8}, Plane{24, 8}}}, 40},
        {SPA_VIDEO_FORMAT_YUY2, {5, 3}, false, {{Plane{0, 12}}}, 36},
        {SPA_VIDEO_FORMAT_NV12, {4, 2}, true, std::nullopt, 0},
        {SPA_VIDEO_FORMAT_BGRA, {4, 4}, true, std::nullopt, 0},
        {SPA_VIDEO_FORMAT_RGBA, {4, 4}, false, std::nullopt, 0},
        {SPA_VIDEO_FORMAT_BGRA, {0, 4}, false, std::nullopt, 0},
        {SPA_VIDEO_FORMAT_I420, {4, 0}, false, std::nullopt, 0},
    };
    for (const auto& [format, size, fullRange, planes, bytes] : cases) {
        SCOPED_TRACE(::testing::Message() << format << " " << size.width << "x" << size.height);
        const auto layout = FrameLayout::make(format, size, fullRange);
        ASSERT_EQ(layout.has_value(), planes.has_value());
        if (!layout) continue;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(layout->planes[i].offset, (*planes)[i].offset) << "plane " << i;
            EXPECT_EQ(layout->planes[i].stride, (*planes)[i].stride) << "plane " << i;
        }
        EXPECT_EQ(layout->bytes, bytes);
    }
}

// At whole odd factors each output pixel is the middle one of its block, every row written once.
TEST(FrameLayout, OddFactorsTakeTheMiddleOfEachBlock) {
    for (const auto& [from, to] :
         {std::pair<FrameSize, FrameSize>{{9, 6}, {3, 2}}, {{25, 3}, {5, 1}}, {{3, 45}, {1, 3}}}) {
        SCOPED_TRACE(::testing::Message() << from.width << "x" << from.height);
        std::vector<uint32_t> source(size_t{from.width} * from.height);
        std::iota(source.begin(), source.end(), 0u);  // each pixel its own index
        const auto layout = FrameLayout::make(SPA_VIDEO_FORMAT_BGRA, to);
        std::vector<uint32_t> out(layout->bytes / 4);  // BGRA rows: packed
        std::vector<uint8_t> scratch;
        layout->write(reinterpret_cast<const uint8_t*>(source.data()), from.stride(), from,
                      reinterpret_cast<uint8_t*>(out.data()), scratch);
        const uint32_t across = from.width / to.width, down = from.height / to.height;
        for (uint32_t y = 0; y < to.height; ++y)
            for (uint32_t x = 0; x < to.width; ++x)
                EXPECT_EQ(out[y * to.width + x],
                          (y * down + down / 2) * from.width + x * across + across / 2);
    }
}

}  // namespace
