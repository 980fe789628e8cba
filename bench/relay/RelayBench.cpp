// Relay figures, each measured in this run, against the PipeWire daemon and WirePlumber of the
// surroundings (run it inside scripts/with-daemons.sh):
//   relay_4k_ms          publishing one 3840x2160 frame to a streaming consumer (median)
//   memcpy_4k_ms         a plain warm memcpy of the same 33,177,600 bytes (median)
//   relay_4k_vs_memcpy   the two against each other
//   relay_nv12_1080p_ms  publishing one 1920x1080 frame to a consumer that takes NV12: the
//                        conversion into its buffer (median)
//   memcpy_1080p_ms      a plain warm memcpy of the same frame's 8,294,400 BGRA bytes (median)
//   relay_nv12_1080p_vs_memcpy  the two against each other
//   relay_4k_to_720p_i420_ms  publishing one 3840x2160 frame to a consumer that asks for
//                        1280x720 I420: the scaling and conversion into its buffer (median)
//   relay_4k_to_720p_i420_vs_4k_memcpy  that against a warm memcpy of the 4K frame
//   latency_1080p_ms     from the host releasing its lock and posting the D-Bus signal to a
//                        PipeWire client holding that frame (median), through the real receiver
//                        on the Qt loop with the D-Bus adapter
#include <spa/param/video/raw.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "PipeWireConsumer.h"
#include "format/Configuration.h"
#include "format/SharedFrameHeader.h"
#include "gpu/FrameStore.h"
#include "platform/DBusFrameSignal.h"
#include "platform/QtRunLoop.h"
#include "platform/SteadyClock.h"
#include "platform/XdgSharedFolderLocator.h"
#include "receiver/TextureReceiver.h"
#include "relay/PipeWireRelayFactory.h"
#include "tests/relay/RelayTestSupport.h"
#include "tools/writer/SharedFrameWriter.h"

namespace {

using Stopwatch = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string serverName(config::cameraName);

double millisecondsSince(Stopwatch::time_point start) {
    return std::chrono::duration<double, std::milli>(Stopwatch::now() - start).count();
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, size_t(fraction * double(samples.size())))];
}

class NullLog : public LogSink {
  public:
    void line(std::string_view) override {}
};

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "relay-bench: %s\n", why.c_str());
    std::exit(1);
}

// A warm copy of `bytes` between two buffers that stay mapped.
class WarmCopy {
  public:
    explicit WarmCopy(size_t bytes) : source_(bytes, 1), target_(bytes, 2) { run(); }
    double milliseconds() {
        const auto start = Stopwatch::now();
        run();
        return millisecondsSince(start);
    }

  private:
    void run() {
        ++round_;
        source_[round_ % source_.size()] = static_cast<uint8_t>(round_);
        std::memcpy(target_.data(), source_.data(), source_.size());
        asm volatile("" : : "r"(target_.data()) : "memory");
    }
    std::vector<uint8_t> source_;
    std::vector<uint8_t> target_;
    size_t round_ = 0;
};

struct Versus {
    double relayMilliseconds = 0;
    double memcpyMilliseconds = 0;
};

// Publishing one `width` x `height` frame, from the call to the end of the copy or conversion
// out, with a consumer taking `format` (at `consumerWidth` x `consumerHeight` where given)
// streaming; each round waits for the consumer to hold the frame before the next. The warm copy
// of the frame's BGRA bytes it is held against is timed in the same rounds, so that both see the
// same machine.
Versus relayAgainstMemcpy(uint32_t width, uint32_t height, uint32_t format, int rounds,
                          uint32_t consumerWidth = 0, uint32_t consumerHeight = 0) {
    auto made = PipeWireRelayFactory(std::make_shared<NullLog>(), std::make_shared<QtRunLoop>())
                    .createSource(serverName);
    if (!made.source || !made.failure.empty()) fail("no relay server: " + made.failure);
    auto& source = *made.source;
    auto frameStore = gpu::FrameStore::create();
    const auto texture = relaytest::patternTexture(*frameStore, width, height);
    WarmCopy copy(size_t{width} * height * 4);

    auto consumer = PipeWireConsumer::connect(
        serverName, format, [](auto...) {}, consumerWidth, consumerHeight);
    if (!consumer) fail("no consumer");
    const bool linked = relaytest::spinUntil([&] {
        relaytest::publish(source, texture);
        relaytest::spinFor(10ms);
        return consumer->frameCount() >= 3;
    });
    if (!linked) fail("the consumer takes no frames");

    std::vector<double> relaySamples;
    std::vector<double> copySamples;
    for (int i = 0; i < rounds; ++i) {
        const size_t received = consumer->frameCount();
        const uint64_t copied = source.copiedFrames();
        const auto start = Stopwatch::now();
        source.publishFrame(texture);
        // The copy runs inside the call; should it ever be deferred, the wait counts too.
        while (source.copiedFrames() == copied) QCoreApplication::processEvents();
        relaySamples.push_back(millisecondsSince(start));
        if (!relaytest::spinUntil([&] { return consumer->frameCount() > received; }, 10s)) {
            fail("a frame never reached the consumer");
        }
        copySamples.push_back(copy.milliseconds());
    }
    return Versus{median(relaySamples), median(copySamples)};
}

struct Latency {
    std::vector<double> samples;
    int lost = 0;
};

// The road of a frame end to end: a host process writes and signals, the receiver on this
// thread's Qt loop takes and relays the frame, and a PipeWire client on its own thread notes
// when it holds it.
Latency latency1080p(int frames) {
    const QString container = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
                                  .filePath(QString::fromUtf8(config::sharedFolderName.data(),
                                                              config::sharedFolderName.size()));
    std::string failure;
    // The files exist before the receiver starts, as a host leaves them.
    if (!SharedFrameWriter::create(container.toStdString(), {}, failure)) fail(failure);

    auto log = std::make_shared<NullLog>();
    auto runLoop = std::make_shared<QtRunLoop>();
    const ReceiverPlatform platform{runLoop,
                                    std::make_shared<DBusFrameSignal>(),
                                    std::make_shared<XdgSharedFolderLocator>(),
                                    std::make_shared<SteadyClock>(),
                                    log,
                                    std::make_shared<PipeWireRelayFactory>(log, runLoop)};
    auto receiver = TextureReceiver::create(gpu::FrameStore::create(), platform);
    if (!receiver) fail("no receiver");

    std::mutex mutex;
    std::map<uint32_t, Stopwatch::time_point> arrivals;
    const auto noteArrival = [&](uint32_t width, uint32_t height, const uint8_t* rows) {
        const auto arrival = Stopwatch::now();
        if (width != 1920 || height != 1080) return;
        uint32_t number = 0;
        std::memcpy(&number, rows, sizeof number);  // the host put it in the first pixel
        std::lock_guard lock(mutex);
        arrivals.emplace(number, arrival);
    };
    auto consumer = PipeWireConsumer::connect(serverName, SPA_VIDEO_FORMAT_BGRA, noteArrival);
    if (!consumer) fail("no consumer");

    const QString host =
        QDir(QCoreApplication::applicationDirPath()).filePath("relay-latency-host");
    auto runHost = [&](uint32_t first, int count, int interval) {
        QProcess process;
        process.start(host, {container, QString::number(first), QString::number(count),
                             QString::number(interval)});
        if (!process.waitForStarted()) fail("relay-latency-host does not start");
        relaytest::spinUntil([&] { return process.state() == QProcess::NotRunning; }, 120s);
        if (process.exitCode() != 0) fail("relay-latency-host failed");
        return process.readAllStandardOutput().toStdString();
    };
    // A first run links the consumer at 1080p; its frames do not count.
    runHost(1, 30, 20);
    if (!relaytest::spinUntil([&] { return consumer->frameCount() > 0; }, 10s)) {
        fail("no 1080p frame reached the consumer");
    }
    relaytest::spinFor(100ms);

    const uint32_t first = 1000;
    std::istringstream posted(runHost(first, frames, 20));
    relaytest::spinFor(200ms);  // the last frames' way out

    Latency latency;
    uint32_t number = 0;
    long long nanoseconds = 0;
    std::lock_guard lock(mutex);
    while (posted >> number >> nanoseconds) {
        const auto arrival = arrivals.find(number);
        if (arrival == arrivals.end()) {
            ++latency.lost;
            continue;
        }
        const auto sent = Stopwatch::time_point(std::chrono::nanoseconds(nanoseconds));
        latency.samples.push_back(
            std::chrono::duration<double, std::milli>(arrival->second - sent).count());
    }
    if (latency.samples.empty()) fail("no measured frame reached the consumer");
    return latency;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const Versus figures = relayAgainstMemcpy(3840, 2160, SPA_VIDEO_FORMAT_BGRA, 100);
    const Versus nv12 = relayAgainstMemcpy(1920, 1080, SPA_VIDEO_FORMAT_NV12, 200);
    const Versus scaled = relayAgainstMemcpy(3840, 2160, SPA_VIDEO_FORMAT_I420, 100, 1280, 720);
    const Latency latency = latency1080p(200);

    std::printf("relay_4k_ms: %.2f\n", figures.relayMilliseconds);
    std::printf("memcpy_4k_ms: %.2f\n", figures.memcpyMilliseconds);
    std::printf("relay_4k_vs_memcpy: %.2f\n",
                figures.relayMilliseconds / figures.memcpyMilliseconds);
    std::printf("relay_nv12_1080p_ms: %.2f\n", nv12.relayMilliseconds);
    std::printf("memcpy_1080p_ms: %.2f\n", nv12.memcpyMilliseconds);
    std::printf("relay_nv12_1080p_vs_memcpy: %.2f\n",
                nv12.relayMilliseconds / nv12.memcpyMilliseconds);
    std::printf("relay_4k_to_720p_i420_ms: %.2f\n", scaled.relayMilliseconds);
    std::printf("relay_4k_to_720p_i420_vs_4k_memcpy: %.2f\n",
                scaled.relayMilliseconds / scaled.memcpyMilliseconds);
    std::printf("latency_1080p_ms: %.2f\n", median(latency.samples));
    std::printf("latency_1080p_p90_ms: %.2f\n", percentile(latency.samples, 0.9));
    std::printf("latency_1080p_frames: %zu\n", latency.samples.size());
    std::printf("latency_1080p_lost_frames: %d\n", latency.lost);
    return 0;
}
