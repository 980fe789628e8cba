// lumetra-sim and a receiver on the real Qt loop and D-Bus adapter, with a timer that never
// ticks: frames can come only through the new-frame signal.
#include <gtest/gtest.h>

#include <QProcess>
#include <algorithm>

#include "format/Configuration.h"
#include "receiver/TextureReceiver.h"
#include "tests/platform/EventLoopWait.h"
#include "tests/support/Fakes.h"
#include "tests/support/QtPlatform.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/TestPattern.h"

namespace {

class UntickedRunLoop : public QtRunLoop {
    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::nanoseconds,
                                                      std::function<void()>) override {
        return QtRunLoop::scheduleRepeating(std::chrono::hours(24), [] {});
    }
};

// The receiver starts first and waits for the sim to create the frame file. Every frame taken is
// relayed once, in rising order, and holds the pattern of its own frame or (when the host wrote
// another between the header read and the pixel copy) of a later one.
TEST(SimReceiverIntegration, FramesArriveThroughTheSignalAlone) {
    constexpr uint32_t width = 256, height = 64;  // the bar moves to a new column every frame
    TempDirectory folder;
    const auto journal = std::make_shared<Journal>();
    const auto relay = std::make_shared<RecordingRelayFactory>(journal);
    ReceiverPlatform platform = qtPlatform(std::make_shared<RecordingLog>(journal), relay);
    platform.runLoop = std::make_shared<UntickedRunLoop>();
    platform.containers = std::make_shared<FakeContainerLocator>(folder.path());
    auto receiver = TextureReceiver::create(gpu::Device::create(), platform);
    ASSERT_TRUE(receiver && receiver->isWaitingForSharedFile());
    std::vector<int64_t> numbers;
    receiver->objectWillChange.connect([&] {
        const int64_t number = receiver->lastFrameNumber();
        if (number != 0 && (numbers.empty() || numbers.back() != number)) numbers.push_back(number);
    });

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(LUMETRA_SIM_PATH),
              {"--frames", "30", "--first", "31", "--size", "256x64", "--rate", "60", "--dir",
               QString::fromStdString(folder.path())});
    ASSERT_TRUE(runEventLoopUntil([&] { return sim.state() == QProcess::NotRunning; }));
    EXPECT_EQ(sim.exitCode(), 0);
    ASSERT_TRUE(runEventLoopUntil([&] { return receiver->lastFrameNumber() == 60; }));
    numbers.push_back(60);
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    const auto& publications = *relay->publications;
    ASSERT_EQ(publications.size(), numbers.size()) << "a frame was taken twice or not relayed";
    ASSERT_GE(numbers.front(), 31);
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
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
}

}  // namespace
