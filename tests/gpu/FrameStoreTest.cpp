#include <gtest/gtest.h>

#include <numeric>

#include "gpu/FrameStore.h"

namespace {

// Rows `bytesPerRow` apart in and out, packed in the texture.
TEST(Texture, CopiesHonourRowPitch) {
    const auto frameStore = gpu::FrameStore::create();
    const auto texture = frameStore->newTexture(5, 3);
    std::vector<uint8_t> source(28 * 3), out(24 * 3, 0xEE);
    std::iota(source.begin(), source.end(), 0);  // rows of 20 bytes, each with 8 of padding
    texture->writePixels(source.data(), 28);
    texture->readPixels(out.data(), 24);
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i], i % 24 < 20 ? source[i / 24 * 28 + i % 24] : 0xEE) << i;
}

// No side of 0 or above 16384. The storage of a released texture is used again for one of its
// size, and only a few blocks are kept.
TEST(FrameStore, MakesOnlyTexturesItCanAndKeepsABoundedStoreForReuse) {
    const auto frameStore = gpu::FrameStore::create();
    EXPECT_TRUE(frameStore->newTexture(16384, 1));
    EXPECT_FALSE(frameStore->newTexture(16385, 1) || frameStore->newTexture(1, 16385) ||
                 frameStore->newTexture(0, 4));
    const uint8_t* released = frameStore->newTexture(64, 64)->contents();
    EXPECT_EQ(frameStore->newTexture(64, 64)->contents(), released);
    std::vector<std::shared_ptr<gpu::Texture>> many(10);
    for (auto& texture : many) texture = frameStore->newTexture(8, 8);
    many.clear();
    EXPECT_EQ(frameStore->storagePool().keptBlocks(), gpu::FrameStore::keptStorageBlocks);
}

}  // namespace
