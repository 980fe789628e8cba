// lumetra-sim and a TextureReceiver on the real Qt event loop exchange frames through the shared
// files and the D-Bus session bus.

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <regex>

#include "platform/DBusNotificationCenter.h"
#include "platform/QtReceiverPlatform.h"
#include "platform/SteadyClock.h"
#include "receiver/Configuration.h"
#include "receiver/TextureReceiver.h"
#include "tests/platform/EnvironmentVariable.h"
#include "tests/platform/EventLoopWait.h"
#include "tests/platform/ObservedRunLoop.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/TestPattern.h"

namespace {

using Lines = std::vector<std::string>;

// Wide enough that the bar stands in a different column in every frame from 31 to 60.
constexpr uint32_t width = 256;
constexpr uint32_t height = 64;
constexpr uint32_t firstFrame = 31;
constexpr uint32_t lastFrame = 60;

const QStringList simFrames = {"--frames", "30",     "--first", "31",
                               "--size",   "256x64", "--rate",  "60"};

std::vector<uint8_t> expectedPixels(uint32_t frame) {
    auto pixels = TestPattern::quadrants(width, height, width * 4);
    TestPattern::moveBar(pixels.data(), width, height, width * 4, frame, frame);
    return pixels;
}

// Follows the frame numbers the receiver takes, through its will-change signal.
class FrameNumberRecorder {
  public:
    explicit FrameNumberRecorder(const std::shared_ptr<TextureReceiver>& receiver)
        : receiver_(receiver) {
        note();  // a frame taken during construction
        id_ = receiver->objectWillChange.connect([this] { note(); });
    }
    ~FrameNumberRecorder() {
        if (auto receiver = receiver_.lock()) receiver->objectWillChange.disconnect(id_);
    }
    // Every number taken, once each (a number is visible from the emission after its store).
    std::vector<int64_t> numbers() {
        note();
        return numbers_;
    }

  private:
    void note() {
        const auto receiver = receiver_.lock();
        if (!receiver) return;
        const int64_t number = receiver->lastFrameNumber();
        if (number != 0 && (numbers_.empty() || numbers_.back() != number)) {
            numbers_.push_back(number);
        }
    }
    std::weak_ptr<TextureReceiver> receiver_;
    int id_ = 0;
    std::vector<int64_t> numbers_;
};

class SimReceiverIntegration : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << "this test needs a D-Bus session bus (run it under scripts/with-daemons.sh)";
    }

    void startSim(QStringList arguments) {
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(QStringLiteral(LUMETRA_SIM_PATH), arguments);
        ASSERT_TRUE(sim.waitForStarted());
    }

    // Waits for the sim to finish and the receiver to take its last frame.
    void finish(TextureReceiver& receiver) {
        ASSERT_TRUE(runEventLoopUntil([&] { return sim.state() == QProcess::NotRunning; }));
        EXPECT_EQ(sim.exitCode(), 0);
        ASSERT_TRUE(runEventLoopUntil([&] { return receiver.lastFrameNumber() == lastFrame; }))
            << "last frame taken: " << receiver.lastFrameNumber();
    }

    // The numbers rise; each frame was published once, flipped, on a committed buffer, and holds
    // the test pattern of its own frame or (when the host wrote another between the header read
    // and the pixel copy) of a later one; the last frame is exact.
    void checkFrames(const std::vector<int64_t>& numbers) {
        const auto& publications = *relay->publications;
        ASSERT_FALSE(numbers.empty());
        ASSERT_EQ(publications.size(), numbers.size()) << "a frame was taken twice or not relayed";
        for (size_t i = 0; i < numbers.size(); ++i) {
            EXPECT_GE(numbers[i], firstFrame);
            EXPECT_LE(numbers[i], lastFrame);
            if (i > 0) {
                EXPECT_GT(numbers[i], numbers[i - 1]);
            }
            const auto& publication = *publications[i];
            EXPECT_TRUE(publication.committed);
            EXPECT_TRUE(publication.flipped);
            EXPECT_EQ(publication.region.width, double(width));
            EXPECT_EQ(publication.region.height, double(height));
            ASSERT_EQ(publication.texture->width(), width);
            ASSERT_EQ(publication.texture->height(), height);
            const uint8_t* texels = publication.texture->contents();
            bool matches = false;
            for (auto frame = numbers[i]; frame <= lastFrame && !matches; ++frame) {
                const auto expected = expectedPixels(static_cast<uint32_t>(frame));
                matches = std::equal(expected.begin(), expected.end(), texels);
            }
            EXPECT_TRUE(matches) << "frame #" << numbers[i] << " holds no frame of the pattern";
        }
        EXPECT_EQ(numbers.back(), lastFrame);
        const auto last = expectedPixels(lastFrame);
        EXPECT_TRUE(std::equal(last.begin(), last.end(), publications.back()->texture->contents()));
    }

    // "✅ Received frame #60 (256x64) - <rate> fps": the one progress line among frames 31 to 60.
    static void checkProgressLine(const std::string& line) {
        EXPECT_TRUE(std::regex_match(line, std::regex("✅ Received frame #60 \\(256x64\\) - "
                                                      "[0-9]+\\.[0-9] fps")))
            << line;
    }

    TempDirectory folder;
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<RecordingRelayFactory> relay = std::make_shared<RecordingRelayFactory>(journal);
    QProcess sim;
};

// Every adapter real (the XDG folder on both sides, the timer, the bus), but for the log and the
// relay, which are recorded. The sim runs first; the receiver attaches to its files at once.
TEST_F(SimReceiverIntegration, FramesArriveThroughTimerAndSignal) {
    EnvironmentVariable runtime("XDG_RUNTIME_DIR", folder.path().string());
    startSim(simFrames);
    ASSERT_TRUE(sim.waitForReadyRead(30'000));  // its first line: the files are in place

    ReceiverPlatform platform = makeQtReceiverPlatform(relay);
    platform.log = std::make_shared<RecordingLog>(journal);
    auto receiver = TextureReceiver::create(gpu::Device::create(), platform);
    ASSERT_TRUE(receiver);
    EXPECT_TRUE(receiver->hasLockFile());
    FrameNumberRecorder recorder(receiver);
    finish(*receiver);
    checkFrames(recorder.numbers());
    receiver.reset();

    const Lines log = journal->logLines();
    ASSERT_EQ(log.size(), 6u) << testing::PrintToString(log);
    EXPECT_EQ(
        Lines(log.begin(), log.begin() + 4),
        (Lines{"✅ Syphon server created: 'Lumetra Vuzadivirur'",
               "✅ TextureReceiver initialized with shared memory",
               "📡 Listening for frames from Lumetra...", "⏱️ Polling timer started (60Hz)"}));
    checkProgressLine(log[4]);
    EXPECT_EQ(log[5], "🛑 Syphon server stopped");
}

// The receiver's timer never fires, so frames can come only through the D-Bus signal. The
// receiver starts first and waits for the sim to create the frame file.
TEST_F(SimReceiverIntegration, FramesArriveThroughTheSignalAlone) {
    const auto group = folder.path() / "group";
    auto runLoop = std::make_shared<ObservedRunLoop>();
    runLoop->silentTimers = true;
    ReceiverPlatform platform{runLoop,
                              std::make_shared<DBusNotificationCenter>(),
                              std::make_shared<FakeContainerLocator>(group),
                              std::make_shared<SteadyClock>(),
                              std::make_shared<RecordingLog>(journal),
                              relay};
    auto receiver = TextureReceiver::create(gpu::Device::create(), platform);
    ASSERT_TRUE(receiver);
    EXPECT_TRUE(receiver->isWaitingForSharedFile());
    FrameNumberRecorder recorder(receiver);

    startSim(QStringList(simFrames) << "--dir" << QString::fromStdString(group.string()));
    finish(*receiver);
    EXPECT_TRUE(receiver->hasLockFile());
    EXPECT_EQ(runLoop->scheduledIntervals,
              std::vector<std::chrono::nanoseconds>{config::pollingInterval});
    EXPECT_EQ(runLoop->ticks, 0u);
    checkFrames(recorder.numbers());
    receiver.reset();

    const Lines log = journal->logLines();
    ASSERT_EQ(log.size(), 7u) << testing::PrintToString(log);
    EXPECT_EQ(
        Lines(log.begin(), log.begin() + 5),
        (Lines{"✅ Syphon server created: 'Lumetra Vuzadivirur'",
               "⏳ Waiting for Lumetra to create shared file...",
               "📡 Listening for frames from Lumetra...", "⏱️ Polling timer started (60Hz)",
               "✅ TextureReceiver initialized with shared memory"}));
    checkProgressLine(log[5]);
    EXPECT_EQ(log[6], "🛑 Syphon server stopped");
}

// With no signal from the sim, the receiver's timer alone brings the frames in.
TEST_F(SimReceiverIntegration, FramesArriveThroughTheTimerAlone) {
    const auto group = folder.path() / "group";
    startSim(QStringList(simFrames) << "--no-signal"
                                    << "--dir" << QString::fromStdString(group.string()));
    ASSERT_TRUE(sim.waitForReadyRead(30'000));
    ReceiverPlatform platform = makeQtReceiverPlatform(relay);
    platform.log = std::make_shared<RecordingLog>(journal);
    platform.containers = std::make_shared<FakeContainerLocator>(group);
    auto receiver = TextureReceiver::create(gpu::Device::create(), platform);
    ASSERT_TRUE(receiver);
    FrameNumberRecorder recorder(receiver);
    finish(*receiver);
    checkFrames(recorder.numbers());
}

}  // namespace
