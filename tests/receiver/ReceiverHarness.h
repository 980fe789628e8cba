#pragma once

#include <memory>
#include <string>
#include <vector>

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

// A host folder, its writer, the fakes and a receiver over them.
struct ReceiverHarness {
    explicit ReceiverHarness(SharedFrameWriter::Options options = {}, bool createFiles = true)
        : fakes(dir.path()) {
        if (createFiles) {
            std::string failure;
            writer = SharedFrameWriter::create(dir.path(), options, failure);
        }
    }

    std::shared_ptr<TextureReceiver> makeReceiver() {
        receiver = TextureReceiver::create(device, fakes.platform());
        if (receiver) {
            receiver->objectWillChange.connect([this] { ++willChangeCount; });
        }
        return receiver;
    }

    // Writes a quadrant frame of the given size, rows `bytesPerRow` apart (0: tightly packed).
    std::vector<uint8_t> writeFrame(uint32_t number, uint32_t width, uint32_t height,
                                    uint32_t bytesPerRow = 0) {
        if (bytesPerRow == 0) bytesPerRow = width * 4;
        auto pixels = TestPattern::quadrants(width, height, bytesPerRow);
        writer->writeFrame(number, width, height, bytesPerRow, pixels.data());
        return pixels;
    }

    Lines logLines() const { return fakes.journal->logLines(); }
    size_t publicationCount() const { return fakes.relay->publications->size(); }

    TempDirectory dir;
    FakePlatform fakes;
    std::shared_ptr<gpu::Device> device = gpu::Device::create();
    std::unique_ptr<SharedFrameWriter> writer;
    std::shared_ptr<TextureReceiver> receiver;
    int willChangeCount = 0;
};
