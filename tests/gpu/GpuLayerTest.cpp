#include <gtest/gtest.h>

#include <numeric>

#include "gpu/Device.h"

namespace {

TEST(Texture, ReplaceAndGetRegionsHonourRowPitchAndBounds) {
    auto device = gpu::Device::create();
    auto texture = device->newTexture(5, 3);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->bytesPerRow(), 20u);
    // A source with 8 bytes of padding per row.
    std::vector<uint8_t> source(28 * 3);
    std::iota(source.begin(), source.end(), 0);
    texture->replaceRegion(gpu::Region::make2D(0, 0, 5, 3), 0, source.data(), 28);
    std::vector<uint8_t> out(20 * 3, 0xEE);
    texture->getBytes(out.data(), 20, gpu::Region::make2D(0, 0, 5, 3), 0);
    for (size_t row = 0; row < 3; ++row) {
        EXPECT_TRUE(std::equal(out.begin() + row * 20, out.begin() + row * 20 + 20,
                               source.begin() + row * 28));
    }
    // A sub-region, read back into a padded buffer.
    std::vector<uint8_t> pixel{1, 2, 3, 4, 5, 6, 7, 8};
    texture->replaceRegion(gpu::Region::make2D(3, 2, 2, 1), 0, pixel.data(), 8);
    std::vector<uint8_t> corner(12 * 2, 0);
    texture->getBytes(corner.data(), 12, gpu::Region::make2D(3, 1, 2, 2), 0);
    EXPECT_TRUE(std::equal(pixel.begin(), pixel.end(), corner.begin() + 12));
    // Regions that leave the texture, or another mipmap level, touch nothing.
    const auto before = std::vector<uint8_t>(texture->contents(), texture->contents() + 60);
    texture->replaceRegion(gpu::Region::make2D(4, 0, 2, 1), 0, pixel.data(), 8);
    texture->replaceRegion(gpu::Region::make2D(0, 0, 1, 1), 1, pixel.data(), 8);
    texture->replaceRegion(gpu::Region::make2D(0, 0xFFFFFFFF, 1, 2), 0, pixel.data(), 8);
    EXPECT_EQ(std::vector<uint8_t>(texture->contents(), texture->contents() + 60), before);
}

TEST(Device, RefusesTexturesItCannotMake) {
    auto device = gpu::Device::create();
    EXPECT_TRUE(device->newTexture(16384, 1));
    EXPECT_FALSE(device->newTexture(16385, 1));
    EXPECT_FALSE(device->newTexture(1, 16385));
    EXPECT_FALSE(device->newTexture(0, 4));
}

TEST(Device, RecyclesStorageOfReleasedTexturesOfTheSameSize) {
    auto device = gpu::Device::create();
    const uint8_t* firstStorage = nullptr;
    {
        auto texture = device->newTexture(64, 64);
        firstStorage = texture->contents();
    }
    EXPECT_EQ(device->storagePool().keptBlocks(), 1u);
    auto again = device->newTexture(64, 64);
    EXPECT_EQ(again->contents(), firstStorage);
    auto other = device->newTexture(32, 64);
    EXPECT_NE(other->contents(), firstStorage);
    // The pool keeps a bounded number of blocks.
    std::vector<std::shared_ptr<gpu::Texture>> many;
    for (int i = 0; i < 10; ++i) many.push_back(device->newTexture(8, 8));
    many.clear();
    EXPECT_EQ(device->storagePool().keptBlocks(), gpu::Device::keptStorageBlocks);
}

}  // namespace
