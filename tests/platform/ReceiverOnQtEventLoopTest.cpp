// A TextureReceiver on the real Qt event loop: how its jobs hold it, and lumetra-sim feeding it.

#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <functional>

#include "format/Configuration.h"
#include "platform/QtRunLoop.h"
#include "receiver/TextureReceiver.h"
#include "tests/platform/EventLoopWait.h"
#include "tests/support/Fakes.h"
#include "tests/support/QtPlatform.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

using Lines = std::vector<std::string>;

// The real QtRunLoop, counting posted jobs, whose timers never fire: a test runs their ticks.
class ManualTickRunLoop : public QtRunLoop {
  public:
    void post(std::function<void()> job) override {
        ++posted;
        QtRunLoop::post(std::move(job));
    }
    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::nanoseconds,
                                                      std::function<void()> tick) override {
        ticks.push_back(std::move(tick));
        return QtRunLoop::scheduleRepeating(std::chrono::hours(24), [] {});
    }
    std::vector<std::function<void()>> ticks;
    size_t posted = 0;
};

TEST(ReceiverJobHolding, ANotificationJobHoldsTheReceiverATickJobDoesNot) {
    TempDirectory folder;
    std::string failure;
    const auto writer = SharedFrameWriter::create(folder.path(), {}, failure);
    ASSERT_TRUE(writer) << failure;
    const std::vector<uint8_t> pixels(64 * 32 * 4, 0x5a);
    FakePlatform fakes{folder.path()};
    auto runLoop = std::make_shared<ManualTickRunLoop>();
    ReceiverPlatform platform = fakes.platform();
    platform.runLoop = runLoop;
    auto& journal = fakes.journal->entries;

    // The pending notification job keeps the released receiver until it has taken the frame.
    auto receiver = TextureReceiver::create(gpu::Device::create(), platform);
    ASSERT_TRUE(receiver && writer->writeFrame(1, 64, 32, 256, pixels.data()));
    fakes.notifications->post(std::string(config::newFrameNotificationName));
    std::weak_ptr<TextureReceiver> watch = receiver;
    journal.clear();
    receiver.reset();
    EXPECT_FALSE(watch.expired()) << "the pending notification job let the receiver go";
    ASSERT_TRUE(runEventLoopUntil([&] { return watch.expired(); }));
    EXPECT_EQ(journal, (Lines{"relay: publish", "relay: stop", "🛑 Syphon server stopped",
                              "relay: destroyed"}));

    // A tick posts its job and the receiver goes before that job runs, which then takes nothing.
    receiver = TextureReceiver::create(gpu::Device::create(), platform);  // takes frame 1
    ASSERT_TRUE(receiver && writer->writeFrame(2, 64, 32, 256, pixels.data()));
    watch = receiver;
    const size_t postedBefore = runLoop->posted;
    runLoop->ticks.back()();
    EXPECT_EQ(runLoop->posted, postedBefore + 1) << "the tick posted no job";
    journal.clear();
    receiver.reset();
    EXPECT_TRUE(watch.expired()) << "a tick job kept the receiver alive";
    ASSERT_TRUE(runPostedJobs());
    EXPECT_EQ(journal, (Lines{"relay: stop", "🛑 Syphon server stopped", "relay: destroyed"}));
}

// Wide enough that the bar stands in a different column in every frame from 31 to 60.
constexpr uint32_t width = 256, height = 64;
const QStringList simFrames = {"--frames", "30",     "--first", "31",
                               "--size",   "256x64", "--rate",  "60"};

class SimReceiverIntegration : public testing::Test {
  protected:
    void startSim(const QStringList& arguments) {
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(QStringLiteral(LUMETRA_SIM_PATH), QStringList(simFrames) << arguments);
        ASSERT_TRUE(sim.waitForStarted());
    }

    // Real adapters but the recorded log and relay (`signalOnly`: a timer that never ticks, the
    // test's folder). A frame number shows from the will-change emission after its store.
    void create(bool signalOnly) {
        ReceiverPlatform platform = qtPlatform(std::make_shared<RecordingLog>(journal), relay);
        if (signalOnly) platform.runLoop = std::make_shared<ManualTickRunLoop>();
        if (signalOnly) platform.containers = std::make_shared<FakeContainerLocator>(folder.path());
        receiver = TextureReceiver::create(gpu::Device::create(), platform);
        if (!receiver) return;
        note();
        receiver->objectWillChange.connect([this] { note(); });
    }
    void note() {
        const int64_t number = receiver ? receiver->lastFrameNumber() : 0;
        if (number != 0 && (numbers.empty() || numbers.back() != number)) numbers.push_back(number);
    }

    // Once the sim ends and frame 60 is taken: the numbers rise, each frame was relayed once and
    // holds the pattern of its own frame or (when the host wrote another between the header read
    // and the pixel copy) of a later one. Then the log, the progress line's rate as "N".
    void finish() {
        ASSERT_TRUE(runEventLoopUntil([&] { return sim.state() == QProcess::NotRunning; }));
        EXPECT_EQ(sim.exitCode(), 0);
        ASSERT_TRUE(runEventLoopUntil([&] { return receiver->lastFrameNumber() == 60; }));
        note();
        const auto& publications = *relay->publications;
        ASSERT_EQ(publications.size(), numbers.size()) << "a frame was taken twice or not relayed";
        ASSERT_GE(numbers.front(), 31);
        EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end(), std::greater_equal<>()),
                  numbers.end());
        for (size_t i = 0; i < numbers.size(); ++i) {
            const auto& texture = *publications[i]->texture;
            ASSERT_TRUE(texture.width() == width && texture.height() == height);
            bool matches = false;
            for (auto frame = uint32_t(numbers[i]); frame <= 60 && !matches; ++frame) {
                auto expected = TestPattern::quadrants(width, height, width * 4);
                TestPattern::moveBar(expected.data(), width, height, width * 4, frame, frame);
                matches = std::equal(expected.begin(), expected.end(), texture.contents());
            }
            EXPECT_TRUE(matches) << "frame #" << numbers[i] << " holds no frame of the pattern";
        }
        std::weak_ptr<TextureReceiver> watch = receiver;
        receiver.reset();
        ASSERT_TRUE(runEventLoopUntil([&] { return watch.expired(); }));  // a late job may hold it
        log = journal->logLines();
        const QRegularExpression rate("[0-9]+\\.[0-9] fps$");
        for (auto& line : log)
            line = QString::fromStdString(line).replace(rate, "N fps").toStdString();
    }

    TempDirectory folder;
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<RecordingRelayFactory> relay = std::make_shared<RecordingRelayFactory>(journal);
    QProcess sim;
    std::vector<int64_t> numbers;
    std::shared_ptr<TextureReceiver> receiver;
    Lines log;
};

// The receiver's timer never ticks, so frames can come only through the D-Bus signal. The
// receiver starts first and waits for the sim to create the frame file.
TEST_F(SimReceiverIntegration, FramesArriveThroughTheSignalAlone) {
    create(/*signalOnly=*/true);
    ASSERT_TRUE(receiver && receiver->isWaitingForSharedFile());
    startSim({"--dir", QString::fromStdString(folder.path())});
    finish();
    EXPECT_EQ(
        log, (Lines{"✅ Syphon server created: 'Lumetra Vuzadivirur'",
                    "⏳ Waiting for Lumetra to create shared file...",
                    "📡 Listening for frames from Lumetra...", "⏱️ Polling timer started (60Hz)",
                    "✅ TextureReceiver initialized with shared memory",
                    "✅ Received frame #60 (256x64) - N fps", "🛑 Syphon server stopped"}));
}

// With no signal, the timer alone brings the frames in, each met by about two checks (the sim
// runs at 30 Hz). Both sides find the group folder through the test script's XDG_RUNTIME_DIR.
TEST_F(SimReceiverIntegration, FramesArriveThroughTheTimerAlone) {
    startSim({"--no-signal", "--rate", "30"});
    ASSERT_TRUE(sim.waitForReadyRead(30'000));  // its first line: the files are in place
    create(/*signalOnly=*/false);
    ASSERT_TRUE(receiver && receiver->hasLockFile());
    finish();
    EXPECT_NE(std::find(log.begin(), log.end(), "✅ Received frame #60 (256x64) - N fps"),
              log.end());
}

TEST_F(SimReceiverIntegration, TheSimStopsOnSigtermWithStatusZero) {
    startSim({"--frames", "0", "--no-signal", "--dir", QString::fromStdString(folder.path())});
    ASSERT_TRUE(sim.waitForReadyRead(30'000));  // its first line: it is writing frames
    ::kill(static_cast<pid_t>(sim.processId()), SIGTERM);
    ASSERT_TRUE(sim.waitForFinished(30'000));
    EXPECT_TRUE(sim.exitStatus() == QProcess::NormalExit && sim.exitCode() == 0) << sim.exitCode();
}

}  // namespace
