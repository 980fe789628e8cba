// Feeds arbitrary slot contents through the real frame checks: header fields, pixel bytes, the
// frame file's length, and a file cut between a frame's two lock windows. The receiver must
// neither crash nor read outside its buffers or the file, and must not leak.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "receiver/TextureReceiver.h"
#include "tests/support/Fakes.h"
#include "tools/writer/SharedFrameWriter.h"

namespace {

// Publishes into a buffer of the frame's size, reading every texel the relay would read.
class CopyingRelayFactory : public RelayServerFactory {
    class Server : public RelayServer {
      public:
        void publishFrameTexture(std::shared_ptr<gpu::Texture> texture, gpu::CommandBuffer& buffer,
                                 gpu::Rect region, bool) override {
            buffer.encode([texture, region] {
                std::vector<uint8_t> out(size_t(region.width) * size_t(region.height) * 4);
                texture->getBytes(
                    out.data(), size_t(region.width) * 4,
                    gpu::Region::make2D(0, 0, uint32_t(region.width), uint32_t(region.height)), 0);
            });
        }
        void stop() override {}
    };

  public:
    Result create(const std::string&, std::shared_ptr<gpu::Device>) override {
        return {std::make_unique<Server>(), {}};
    }
};

// One folder for the whole run, removed when the fuzzer exits.
struct FuzzFolder {
    FuzzFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lmv-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
    }
    ~FuzzFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
};

std::filesystem::path folder(bool withLock) {
    static const FuzzFolder base;
    return base.path / (withLock ? "locked" : "unlocked");
}

uint32_t smallOrAny(FuzzedDataProvider& input, uint32_t small) {
    return input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(0, small)
                               : input.ConsumeIntegral<uint32_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool withLock = input.ConsumeBool();
    const auto path = folder(withLock);
    std::string failure;
    auto writer = SharedFrameWriter::create(path, {.createLockFile = withLock}, failure);
    if (!writer) std::abort();
    uint64_t fileLength = SharedFrameHeader::mappingLength;
    writer->truncate(fileLength);
    std::memset(writer->slot(), 0, SharedFrameHeader::headerSize);

    auto device = gpu::Device::create();
    uint64_t cutBetweenWindows = 0;  // 0: leave the file alone
    device->faults().onNewTexture = [&] {
        if (cutBetweenWindows != 0) writer->truncate(cutBetweenWindows);
    };
    FakePlatform fakes{path};
    ReceiverPlatform platform = fakes.platform();
    platform.relay = std::make_shared<CopyingRelayFactory>();
    auto receiver = TextureReceiver::create(device, platform);
    if (!receiver) std::abort();

    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 4)) {
            case 0: {  // a header, small sizes more likely than not
                SharedFrameHeader header;
                header.width = smallOrAny(input, 300);
                header.height = smallOrAny(input, 300);
                header.frameNumber = smallOrAny(input, 1000);
                header.bytesPerRow = smallOrAny(input, 1300);
                header.dataSize = smallOrAny(input, 400'000);
                if (fileLength >= SharedFrameHeader::headerSize) header.store(writer->slot());
                break;
            }
            case 1: {  // pixel bytes somewhere inside the file
                const auto offset = input.ConsumeIntegralInRange<uint64_t>(
                    SharedFrameHeader::headerSize, SharedFrameHeader::mappingLength - 1);
                const auto bytes = input.ConsumeBytes<uint8_t>(64);
                for (size_t i = 0; i < bytes.size() && offset + i < fileLength; ++i) {
                    writer->slot()[offset + i] = bytes[i];
                }
                break;
            }
            case 2:  // the file's length
                fileLength = input.ConsumeBool()
                                 ? input.ConsumeIntegralInRange<uint64_t>(0, 500'000)
                                 : SharedFrameHeader::mappingLength;
                writer->truncate(fileLength);
                break;
            case 3:  // a cut the next frame meets between reading its header and its pixels
                cutBetweenWindows = input.ConsumeIntegralInRange<uint64_t>(0, 500'000);
                break;
            default:
                fakes.clock->time += 0.016;
                fakes.journal->entries.clear();  // the log is not what is fuzzed here
                receiver->checkForNewFrame();
                if (cutBetweenWindows != 0) {
                    fileLength = std::min(fileLength, cutBetweenWindows);
                    cutBetweenWindows = 0;
                }
                if (const auto& texture = receiver->currentTexture()) {
                    if (texture->width() == 0 || texture->height() == 0) std::abort();
                }
                break;
        }
    }
    receiver->checkForNewFrame();
    return 0;
}
