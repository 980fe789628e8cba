// stream_latency_720p_ms: from a 720p frame handed to the stream to a GStreamer client on this
// machine (SRT latency 40 ms) having it decoded, the median over 120 frames. Each frame turns the
// whole picture black or white; the client's decoded frames arrive on a pipe.
#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "gpu/FrameStore.h"
#include "platform/QtRunLoop.h"
#include "platform/StdoutLogSink.h"
#include "stream/GstStreamServer.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr uint32_t width = 1280, height = 720;
constexpr size_t frameBytes = size_t{width} * height * 4;
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QString uri = "srt://127.0.0.1:" + QString(argc > 1 ? argv[1] : "47190");
    std::string failure;
    StreamSettings settings;
    if (!settings.apply("stream", (uri + "?mode=listener&latency=40").toStdString(), failure))
        return std::fprintf(stderr, "%s\n", failure.c_str()), 2;
    auto server = GstStreamServer::create(settings, std::make_shared<StdoutLogSink>(),
                                          std::make_shared<QtRunLoop>(), failure);
    if (!server) return std::fprintf(stderr, "%s\n", failure.c_str()), 1;
    QProcess client;
    client.start("gst-launch-1.0",
                 {"-q", "srtsrc", "uri=" + uri + "?mode=caller&latency=40", "!", "tsdemux", "!",
                  "h264parse", "!", "avdec_h264", "max-threads=1", "!", "videoconvert", "!",
                  "video/x-raw,format=BGRA", "!", "fdsink", "fd=1", "sync=false"});
    const auto frameStore = gpu::FrameStore::create();
    QByteArray pending;
    std::vector<double> latencies;
    int shade = 0;  // 0: black; 255: white
    Clock::time_point sent = Clock::now();
    bool waiting = false;
    // A frame of the current shade; the shade turns once the last turn has been seen (or lost).
    const auto send = [&] {
        const bool turn = !waiting || Clock::now() - sent > std::chrono::seconds(2);
        if (turn) shade = 255 - shade;
        auto texture = frameStore->newTexture(width, height);
        std::fill_n(texture->mutableContents(), frameBytes, uint8_t(shade));
        if (turn) sent = Clock::now(), waiting = true;
        server->publishFrame(texture);
    };
    QObject::connect(&client, &QProcess::readyReadStandardOutput, [&] {
        pending += client.readAllStandardOutput();
        for (; pending.size() >= qsizetype(frameBytes); pending.remove(0, frameBytes)) {
            const int seen = uint8_t(pending[frameBytes / 2 + 2]);
            if (!waiting || std::abs(seen - shade) > 40) continue;
            latencies.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
            waiting = false;
        }
    });
    QTimer pace;  // 60 frames a second, as a host sends them
    pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        send();
        if (latencies.size() >= 130) QCoreApplication::quit();
    });
    pace.start(16);
    QTimer::singleShot(120000, &application, &QCoreApplication::quit);
    QCoreApplication::exec();
    client.kill();
    client.waitForFinished();
    if (latencies.size() < 130)
        return std::fprintf(stderr, "only %zu frames arrived\n", latencies.size()), 1;
    latencies.erase(latencies.begin(), latencies.begin() + 10);  // the client's start-up
    std::nth_element(latencies.begin(), latencies.begin() + 60, latencies.end());
    std::printf("stream_latency_720p_ms: %.1f\n", latencies[60]);
}
