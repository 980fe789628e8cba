// Frame-intake figures, each measured in this run: an idle check, taking a new 1080p and 4K
// frame, and a plain warm copy of a 4K frame as the baseline the 4K figure is held against.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "receiver/TextureReceiver.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

using Stopwatch = std::chrono::steady_clock;

double millisecondsSince(Stopwatch::time_point start) {
    return std::chrono::duration<double, std::milli>(Stopwatch::now() - start).count();
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

class NullLog : public LogSink {
  public:
    void line(std::string_view) override {}
};

// Relays nothing and keeps nothing, so that released textures go back to the frame store.
class NullRelayFactory : public FrameSinkFactory {
    class Server : public FrameSink {
      public:
        void publishFrame(std::shared_ptr<gpu::Texture>) override {}
        void stop() override {}
    };

  public:
    Result create(const std::string&, std::shared_ptr<gpu::FrameStore>) override {
        return {std::make_unique<Server>(), {}};
    }
};

double ingestMilliseconds(SharedFrameWriter& writer, TextureReceiver& receiver, uint32_t width,
                          uint32_t height, uint32_t& frameNumber, int rounds) {
    const auto pixels = TestPattern::quadrants(width, height, width * 4);
    writer.writeFrame(++frameNumber, width, height, width * 4, pixels.data());
    receiver.checkForNewFrame();  // warm: pages mapped, storage recycled from here on
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        writer.writeHeader({width, height, ++frameNumber, width * 4, width * height * 4});
        const auto start = Stopwatch::now();
        receiver.checkForNewFrame();
        samples.push_back(millisecondsSince(start));
        if (receiver.lastFrameNumber() != frameNumber) std::fprintf(stderr, "frame not taken\n");
    }
    return median(samples);
}

double memcpyMilliseconds(size_t bytes, int rounds) {
    std::vector<uint8_t> source(bytes, 1), target(bytes, 2);
    std::memcpy(target.data(), source.data(), bytes);
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        source[i % bytes] = static_cast<uint8_t>(i);
        const auto start = Stopwatch::now();
        std::memcpy(target.data(), source.data(), bytes);
        samples.push_back(millisecondsSince(start));
        asm volatile("" : : "r"(target.data()) : "memory");
    }
    return median(samples);
}

}  // namespace

int main() {
    TempDirectory dir;
    std::string failure;
    auto writer = SharedFrameWriter::create(dir.path(), {}, failure);
    if (!writer) {
        std::fprintf(stderr, "intake-bench: %s\n", failure.c_str());
        return 1;
    }
    FakePlatform fakes(dir.path());
    auto platform = fakes.platform();
    platform.log = std::make_shared<NullLog>();
    platform.relay = std::make_shared<NullRelayFactory>();
    auto receiver = TextureReceiver::create(gpu::FrameStore::create(), platform);
    if (!receiver) return 1;

    uint32_t frameNumber = 0;
    const double ingest1080 = ingestMilliseconds(*writer, *receiver, 1920, 1080, frameNumber, 60);
    const double ingest4k = ingestMilliseconds(*writer, *receiver, 3840, 2160, frameNumber, 40);

    std::vector<double> idle;
    for (int i = 0; i < 20000; ++i) {
        const auto start = Stopwatch::now();
        receiver->checkForNewFrame();
        idle.push_back(millisecondsSince(start) * 1000.0);
    }
    const double memcpy4k = memcpyMilliseconds(size_t{SharedFrameHeader::maxDataSize}, 40);

    std::printf("idle_check_us: %.2f\n", median(idle));
    std::printf("ingest_1080p_ms: %.2f\n", ingest1080);
    std::printf("ingest_4k_ms: %.2f\n", ingest4k);
    std::printf("memcpy_4k_ms: %.2f\n", memcpy4k);
    std::printf("ingest_4k_vs_memcpy: %.2f\n", ingest4k / memcpy4k);
    return 0;
}
