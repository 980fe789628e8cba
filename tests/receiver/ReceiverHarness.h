#pragma once

#include "receiver/TextureReceiver.h"
#include "tests/support/Fakes.h"
#include "tests/support/OpenDescriptors.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

using Lines = std::vector<std::string>;

inline const std::string serverCreated = "✅ Syphon server created: 'Lumetra Vuzadivirur'";
inline const std::string initialized = "✅ TextureReceiver initialized with shared memory";
inline const std::string listening = "📡 Listening for frames from Lumetra...";
inline const std::string timerStarted = "⏱️ Polling timer started (60Hz)";
inline const std::string serverStopped = "🛑 Syphon server stopped";

// The texture's bytes as tightly packed rows.
inline std::vector<uint8_t> textureBytes(const gpu::Texture& texture) {
    std::vector<uint8_t> bytes(size_t{texture.width()} * texture.height() * 4);
    texture.getBytes(bytes.data(), texture.width() * 4,
                     gpu::Region::make2D(0, 0, texture.width(), texture.height()), 0);
    return bytes;
}

// A host folder, its writer, the fakes and a receiver over them.
struct ReceiverHarness {
    explicit ReceiverHarness(SharedFrameWriter::Options options = {}, bool createFiles = true)
        : fakes(dir.path()) {
        if (createFiles) writer = SharedFrameWriter::create(dir.path(), options, failure);
    }

    std::shared_ptr<TextureReceiver> makeReceiver() {
        return receiver = TextureReceiver::create(device, fakes.platform());
    }

    // Writes a quadrant frame of the given size, tightly packed, and returns its pixels.
    std::vector<uint8_t> writeFrame(uint32_t number, uint32_t width, uint32_t height) {
        auto pixels = TestPattern::quadrants(width, height, width * 4);
        writer->writeFrame(number, width, height, width * 4, pixels.data());
        return pixels;
    }
    // The current texture's bytes; none without one.
    std::vector<uint8_t> shown() const {
        const auto& texture = receiver->currentTexture();
        return texture ? textureBytes(*texture) : std::vector<uint8_t>{};
    }

    Lines logLines() const { return fakes.journal->logLines(); }

    TempDirectory dir;
    FakePlatform fakes;
    std::shared_ptr<gpu::Device> device = gpu::Device::create();
    std::unique_ptr<SharedFrameWriter> writer;
    std::shared_ptr<TextureReceiver> receiver;
    std::string failure;  // a writer's
};
