// A PipeWire consumer of the application's camera node that tells, from the pictures alone, which
// of lumetra-sim's frames reached it: the sim's white bar moves 4 columns a frame, so its column
// gives the frame number modulo (width - 8) / 4. Prints `name: value` lines for a measured window.
//   relayed-frame-counter --warmup S --seconds S [--label NAME] [--node NAME]
#include <spa/param/video/raw.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "PipeWireConsumer.h"
#include "format/Configuration.h"
#include "tools/writer/TestPattern.h"

namespace {

std::string option(int argc, char** argv, const char* name, std::string fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    }
    return fallback;
}

// Counts frames, frames skipped and frames seen twice, by the bar's column in a row of the top
// left quadrant.
class BarTracker {
  public:
    void frame(uint32_t width, uint32_t height, const uint8_t* rows) {
        if (width <= 8 || height < 4) return;
        const uint8_t* row = rows + size_t{width} * 4 * (height / 4);
        uint32_t column = 0;
        while (column < width && std::memcmp(row + size_t{column} * 4, &TestPattern::bar, 3) != 0) {
            ++column;
        }
        if (column == width) return;
        const uint32_t period = (width - 8) / 4;
        const uint32_t position = column / 4;
        std::lock_guard lock(mutex_);
        if (!measuring_) {
            last_.reset();
            return;
        }
        ++frames_;
        if (last_) {
            const uint32_t step = (position + period - *last_) % period;
            if (step == 0) ++repeated_;
            if (step > 1) missed_ += step - 1;
        }
        last_ = position;
    }
    void measure(bool on) {
        std::lock_guard lock(mutex_);
        measuring_ = on;
    }
    struct Counts {
        uint64_t frames, missed, repeated;
    };
    Counts counts() {
        std::lock_guard lock(mutex_);
        return {frames_, missed_, repeated_};
    }

  private:
    std::mutex mutex_;
    bool measuring_ = false;
    std::optional<uint32_t> last_;
    uint64_t frames_ = 0, missed_ = 0, repeated_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const double warmup = std::stod(option(argc, argv, "--warmup", "3"));
    const double seconds = std::stod(option(argc, argv, "--seconds", "30"));
    const std::string label = option(argc, argv, "--label", "run");
    const std::string node = option(argc, argv, "--node", std::string(config::cameraName));

    BarTracker tracker;
    auto consumer = PipeWireConsumer::connect(
        node, SPA_VIDEO_FORMAT_BGRA, [&](uint32_t width, uint32_t height, const uint8_t* rows) {
            tracker.frame(width, height, rows);
        });
    if (!consumer) {
        std::fprintf(stderr, "relayed-frame-counter: no PipeWire stream\n");
        return 1;
    }
    using Seconds = std::chrono::duration<double>;
    std::this_thread::sleep_for(Seconds(warmup));
    tracker.measure(true);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(Seconds(seconds));
    tracker.measure(false);
    const double elapsed = Seconds(std::chrono::steady_clock::now() - start).count();
    const auto counts = tracker.counts();
    std::printf("%s_relayed_fps: %.2f\n", label.c_str(), double(counts.frames) / elapsed);
    std::printf("%s_relayed_missed: %llu\n", label.c_str(), (unsigned long long)counts.missed);
    std::printf("%s_relayed_repeated: %llu\n", label.c_str(), (unsigned long long)counts.repeated);
    return counts.frames > 0 ? 0 : 1;
}
