// Feeds arbitrary headers, file lengths, and cuts or new headers between a frame's two lock
// windows through the real frame checks. The receiver must not crash, read outside its buffers
// or the file, relay a texture under another size than its own, or leak.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "tests/receiver/ReceiverHarness.h"

static SharedFrameHeader anyHeader(FuzzedDataProvider& input) {
    const auto any = [&](uint32_t small) {  // small values more likely than not
        return input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(0, small)
                                   : input.ConsumeIntegral<uint32_t>();
    };
    return {any(300), any(300), any(1000), any(1300), any(400'000)};  // in this order
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One folder for the whole run, on a memory file system as the host's is ($XDG_RUNTIME_DIR):
    // on a disk's, the truncations every input makes wait for the disk (ext4 with discard: 80
    // inputs a second instead of 3,000).
    static const TempDirectory base("/dev/shm");
    if (base.path().empty()) std::abort();
    FuzzedDataProvider input(data, size);
    const bool withLock = input.ConsumeBool();
    const auto path = base.path() / (withLock ? "locked" : "unlocked");
    std::string failure;
    auto writer = SharedFrameWriter::create(path, {.createLockFile = withLock}, failure);
    if (!writer) std::abort();
    uint64_t fileLength = SharedFrameHeader::mappingLength;
    writer->truncate(0);  // a zero-filled slot, whatever the last run left
    writer->truncate(fileLength);

    auto frameStore = gpu::FrameStore::create();
    // What the host does while the next frame's texture is made (a cut: a length above 0).
    uint64_t cutBetweenWindows = 0;
    std::optional<SharedFrameHeader> headerBetweenWindows;
    const auto store = [&](const SharedFrameHeader& header) {
        if (fileLength >= SharedFrameHeader::headerSize) header.store(writer->slot());
    };
    frameStore->faults().onNewTexture = [&] {
        if (cutBetweenWindows != 0) writer->truncate(cutBetweenWindows);
        if (headerBetweenWindows) store(*headerBetweenWindows);
    };
    FakePlatform fakes(path);
    auto receiver = TextureReceiver::create(frameStore, fakes.platform());
    if (!receiver) std::abort();

    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 3)) {
            case 0:
                store(anyHeader(input));
                break;
            case 1:  // the file's length
                fileLength = input.ConsumeBool()
                                 ? input.ConsumeIntegralInRange<uint64_t>(0, 500'000)
                                 : SharedFrameHeader::mappingLength;
                writer->truncate(fileLength);
                break;
            case 2:  // what the next frame meets between its two lock windows
                if (input.ConsumeBool()) {
                    cutBetweenWindows = input.ConsumeIntegralInRange<uint64_t>(0, 500'000);
                } else {
                    headerBetweenWindows = anyHeader(input);
                }
                break;
            default:
                fakes.clock->time += 0.016;
                receiver->checkForNewFrame();
                if (cutBetweenWindows != 0) fileLength = std::min(fileLength, cutBetweenWindows);
                cutBetweenWindows = 0;
                headerBetweenWindows.reset();
                // Each frame is relayed under its own size, and every texel can be read.
                for (const auto& texture : fakes.journal->publications) {
                    std::vector<uint8_t> bytes(size_t{texture->width()} * texture->height() * 4);
                    texture->readPixels(bytes.data(), texture->width() * 4);
                }
                fakes.journal->publications.clear();
                break;
        }
    }
    return 0;
}
