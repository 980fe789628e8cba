// The application's window and receiver, built as the program builds them, with one observer
// more: it records the number of every frame the receiver takes, and this process's CPU time,
// resident memory and open descriptors, over a measured window. Prints `name: value` lines.
// With --save-4k it also saves a 3840x2160 frame as a PNG, one save after another, all through
// the measured window, as the Save PNG button does; with --stream it also streams, as --stream
// does in the program; with --record it also records to FILE, as --record does.
//   frame-counting-app --warmup S --seconds S [--label NAME] [--save-4k] [--stream URI]
//                      [--record FILE]
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "app/ContentView.h"
#include "app/LMVuzadivirurApp.h"
#include "app/RecordingControl.h"
#include "app/RecordingSinkFactory.h"
#include "app/SnapshotWriter.h"
#include "app/TextureReceiverState.h"
#include "gpu/FrameStore.h"
#include "gpu/OpenGLAvailable.h"
#include "platform/QtRunLoop.h"
#include "preview/PreviewWidget.h"
#include "receiver/TextureReceiver.h"
#include "tests/support/OpenDescriptors.h"

namespace {

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kilobytes = 0;
            status >> kilobytes;
            return kilobytes / 1024.0;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double argument(int argc, char** argv, const char* name, double fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return std::atof(argv[i + 1]);
    }
    return fallback;
}

std::string text(int argc, char** argv, const char* name, const char* fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    }
    return fallback;
}

bool flag(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return true;
    }
    return false;
}

// Counts the saves that end and starts the next one while asked to.
class SaveLoop : public LogSink {
  public:
    void line(std::string_view text) override {
        if (text.rfind("✅", 0) == 0) ++saves;
        if (text.rfind("❌", 0) == 0) ++failures;
        if (running) QTimer::singleShot(0, [this] { start(); });
    }
    void start() {
        running = true;
        writer->save(frame, path);
    }
    std::shared_ptr<gpu::Texture> frame;
    QString path;
    std::shared_ptr<SnapshotWriter> writer;
    bool running = false;
    int saves = 0, failures = 0;
};

int run(double warmup, double seconds, const std::string& name, bool save4k,
        const StreamSettings& stream, const std::string& record);

}  // namespace

int main(int argc, char** argv) {
    const double warmup = argument(argc, argv, "--warmup", 3);
    const double seconds = argument(argc, argv, "--seconds", 30);
    const std::string name = text(argc, argv, "--label", "run");
    const bool save4k = flag(argc, argv, "--save-4k");
    StreamSettings stream;
    std::string failure;
    const std::string address = text(argc, argv, "--stream", "");
    if (!address.empty() && !stream.apply("stream", address, failure))
        return std::fprintf(stderr, "%s\n", failure.c_str()), 2;

    QSurfaceFormat::setDefaultFormat(PreviewWidget::surfaceFormat());
    QApplication application(argc, argv);
    const int status = run(warmup, seconds, name, save4k, stream, text(argc, argv, "--record", ""));
    QtRunLoop::runPendingJobs();
    return status;
}

namespace {

int run(double warmup, double seconds, const std::string& name, bool save4k,
        const StreamSettings& stream, const std::string& record) {
    if (!gpu::openGLAvailable()) return 1;
    auto frameStore = gpu::FrameStore::create();
    ReceiverPlatform platform = LMVuzadivirurApp::makePlatform(stream);
    auto recording = std::make_shared<RecordingControl>(RecordingSettings::Quality::standard,
                                                        platform.log, platform.runLoop);
    platform.relay = std::make_shared<RecordingSinkFactory>(platform.relay, recording);
    if (!record.empty() && !recording->start(record)) return 1;
    auto receiver = TextureReceiver::create(frameStore, platform);
    if (!receiver) return 1;

    // The number is assigned after the first signal of a frame, so the next signal sees it.
    bool measuring = false;
    int64_t recorded = 0;
    std::set<int64_t> taken;
    const int counter = receiver->objectWillChange.connect([&] {
        const int64_t number = receiver->lastFrameNumber();
        if (number != recorded) {
            recorded = number;
            if (measuring) taken.insert(number);
        }
    });

    ContentView window(std::make_shared<TextureReceiverState>(receiver), platform.log);
    window.resize(1280, 720);
    window.show();

    const auto saveLoop = std::make_shared<SaveLoop>();
    QTemporaryDir saveDir;
    if (save4k) {
        saveLoop->frame = frameStore->newTexture(3840, 2160);
        if (!saveLoop->frame || !saveDir.isValid()) return 1;
        for (size_t i = 0; i < size_t{3840} * 2160 * 4; ++i) {
            saveLoop->frame->mutableContents()[i] = uint8_t(i * 7 + i / 15360);
        }
        saveLoop->path = saveDir.filePath(QStringLiteral("frame.png"));
        saveLoop->writer = std::make_shared<SnapshotWriter>(saveLoop);
    }

    double startTime = 0, startCpu = 0, startRss = 0;
    size_t startFds = 0;
    QTimer::singleShot(int(warmup * 1000), [&] {
        measuring = true;
        startTime = now();
        startCpu = cpuSeconds();
        startRss = residentMegabytes();
        startFds = openDescriptorCount();
        if (save4k) saveLoop->start();
    });
    QTimer::singleShot(int((warmup + seconds) * 1000), [&] {
        measuring = false;
        saveLoop->running = false;
        const double elapsed = now() - startTime;
        const double cpu = cpuSeconds() - startCpu;
        const int64_t span = taken.empty() ? 0 : *taken.rbegin() - *taken.begin() + 1;
        std::printf("%s_taken_fps: %.2f\n", name.c_str(), double(taken.size()) / elapsed);
        std::printf("%s_taken_frames: %zu\n", name.c_str(), taken.size());
        std::printf("%s_missed: %lld\n", name.c_str(),
                    static_cast<long long>(span - static_cast<int64_t>(taken.size())));
        std::printf("%s_cpu_pct: %.2f\n", name.c_str(), 100.0 * cpu / elapsed);
        std::printf("%s_rss_mb: %.1f\n", name.c_str(), residentMegabytes());
        std::printf("%s_rss_growth_mb: %.1f\n", name.c_str(), residentMegabytes() - startRss);
        std::printf(
            "%s_fds_growth: %lld\n", name.c_str(),
            static_cast<long long>(openDescriptorCount()) - static_cast<long long>(startFds));
        if (save4k) {
            std::printf("%s_saves: %d\n", name.c_str(), saveLoop->saves);
            std::printf("%s_failed_saves: %d\n", name.c_str(), saveLoop->failures);
        }
        std::fflush(stdout);
        QApplication::quit();
    });
    const int status = QApplication::exec();
    // A frame job still pending holds the receiver past this function, whose locals the counter
    // takes by reference.
    receiver->objectWillChange.disconnect(counter);
    saveLoop->writer.reset();  // waits for a save under way; it holds the loop as its log
    recording->finishAll();
    return status;
}

}  // namespace
