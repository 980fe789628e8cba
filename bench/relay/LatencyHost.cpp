// A host for the latency figure: writes `count` 1920x1080 frames into the shared frame file,
// one every `interval` milliseconds, each under the exclusive lock, then posts the new-frame
// D-Bus signal. Each frame's number is also in its first pixel, so that a PipeWire client can
// tell the frames apart. At the end it prints, per frame, "<number> <ns>": the steady-clock time
// at which it released the lock and posted the signal.
//   relay-latency-host DIRECTORY FIRST_NUMBER COUNT INTERVAL_MS
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s DIRECTORY FIRST_NUMBER COUNT INTERVAL_MS\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    uint32_t frameNumber = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const int count = std::atoi(argv[3]);
    const int interval = std::atoi(argv[4]);

    std::string failure;
    auto writer = SharedFrameWriter::create(directory, {}, failure);
    if (!writer) {
        std::fprintf(stderr, "relay-latency-host: %s\n", failure.c_str());
        return 1;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "relay-latency-host: no session bus\n");
        return 1;
    }

    constexpr uint32_t width = 1920;
    constexpr uint32_t height = 1080;
    auto pixels = TestPattern::quadrants(width, height, width * 4);
    std::vector<std::pair<uint32_t, int64_t>> posted;
    posted.reserve(count);

    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(interval);
    QObject::connect(&timer, &QTimer::timeout, &application, [&] {
        ++frameNumber;
        std::memcpy(pixels.data(), &frameNumber, sizeof frameNumber);
        writer->writeFrame(frameNumber, width, height, width * 4, pixels.data());  // unlocks
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        posted.emplace_back(frameNumber,
                            std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
        bus.send(QDBusMessage::createSignal("/com/lumetra/visualizer", "com.lumetra.visualizer",
                                            "newFrame"));
        if (static_cast<int>(posted.size()) == count) {
            timer.stop();
            application.quit();
        }
    });
    timer.start();
    application.exec();

    for (const auto& [number, nanoseconds] : posted) {
        std::printf("%u %lld\n", number, static_cast<long long>(nanoseconds));
    }
    return 0;
}
