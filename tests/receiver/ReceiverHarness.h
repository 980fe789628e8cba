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

// A host folder, its writer, the fakes and a receiver over them, made as far as `start` says.
enum class Start { empty, files, running };
struct ReceiverHarness {
    explicit ReceiverHarness(SharedFrameWriter::Options options = {}, Start start = Start::running)
        : fakes(dir.path()) {
        if (start != Start::empty) writer = SharedFrameWriter::create(dir.path(), options, failure);
        if (start == Start::running) makeReceiver();  // tests check `receiver` where it matters
    }

    std::shared_ptr<TextureReceiver> makeReceiver() {
        return receiver = TextureReceiver::create(frameStore, fakes.platform());
    }

    // Writes a quadrant frame of the given size, tightly packed, and returns its pixels.
    std::vector<uint8_t> writeFrame(uint32_t number, uint32_t width, uint32_t height) {
        auto pixels = TestPattern::quadrants(width, height, width * 4);
        writer->writeFrame(number, width, height, width * 4, pixels.data());
        return pixels;
    }
    // The bytes of `texture`, by default the current one, as tightly packed rows; none without one.
    std::vector<uint8_t> shown(std::shared_ptr<gpu::Texture> texture = {}) const {
        if (!texture && !(texture = receiver->currentTexture())) return {};
        std::vector<uint8_t> bytes(size_t{texture->width()} * texture->height() * 4);
        texture->readPixels(bytes.data(), texture->width() * 4);
        return bytes;
    }

    Lines logLines() const { return fakes.journal->logLines(); }
    // The polling timer's tick `seconds` after the last, and the check it posts.
    void tick(double seconds) {
        fakes.clock->time += seconds;
        fakes.runLoop->tickTimers();
        fakes.runLoop->runPendingJobs();
    }

    TempDirectory dir;
    FakePlatform fakes;
    std::shared_ptr<gpu::FrameStore> frameStore = gpu::FrameStore::create();
    std::unique_ptr<SharedFrameWriter> writer;
    std::shared_ptr<TextureReceiver> receiver;
    std::string failure;  // a writer's
};
