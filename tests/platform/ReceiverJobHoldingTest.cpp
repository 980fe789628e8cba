// The receiver's main-thread jobs on the real Qt event loop: timer jobs hold it weakly,
// notification jobs strongly.

#include <gtest/gtest.h>

#include "receiver/Configuration.h"
#include "receiver/TextureReceiver.h"
#include "tests/platform/EventLoopWait.h"
#include "tests/platform/ObservedRunLoop.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

using Lines = std::vector<std::string>;

constexpr uint32_t width = 64;
constexpr uint32_t height = 32;

class ReceiverJobHolding : public testing::Test {
  protected:
    void SetUp() override {
        std::string failure;
        writer = SharedFrameWriter::create(folder.path(), {}, failure);
        ASSERT_TRUE(writer) << failure;
        write(1);
        auto platform = fakes.platform();
        platform.runLoop = runLoop;
        receiver = TextureReceiver::create(gpu::Device::create(), platform);
        ASSERT_TRUE(receiver);
        ASSERT_EQ(receiver->lastFrameNumber(), 1);  // taken by the check in the constructor
        constructionEntries = fakes.journal->entries.size();
    }

    void write(uint32_t frameNumber) {
        auto pixels = TestPattern::quadrants(width, height, width * 4);
        TestPattern::moveBar(pixels.data(), width, height, width * 4, frameNumber, frameNumber);
        ASSERT_TRUE(writer->writeFrame(frameNumber, width, height, width * 4, pixels.data()));
    }

    // Journal entries after construction.
    Lines laterEntries() const {
        return Lines(fakes.journal->entries.begin() + static_cast<long>(constructionEntries),
                     fakes.journal->entries.end());
    }

    TempDirectory folder;
    std::unique_ptr<SharedFrameWriter> writer;
    FakePlatform fakes{folder.path()};
    std::shared_ptr<ObservedRunLoop> runLoop = std::make_shared<ObservedRunLoop>();
    std::shared_ptr<TextureReceiver> receiver;
    size_t constructionEntries = 0;
};

TEST_F(ReceiverJobHolding, PendingTickJobsDoNothingOnceTheReceiverIsReleased) {
    write(2);  // a frame that a live receiver's tick job would take
    std::weak_ptr<TextureReceiver> watch = receiver;
    size_t pendingTickJobs = 0;
    bool expiredAtRelease = false;
    runLoop->afterTick = [&] {
        // The tick has just posted its job; the receiver goes before that job runs.
        pendingTickJobs = runLoop->posted;
        receiver.reset();
        expiredAtRelease = watch.expired();
        runLoop->afterTick = nullptr;
    };
    ASSERT_TRUE(runEventLoopUntil([&] { return receiver == nullptr; }));
    EXPECT_EQ(pendingTickJobs, 1u);
    EXPECT_TRUE(expiredAtRelease) << "a tick job kept the receiver alive";
    // The tick job (and any other) runs now and finds nothing to check.
    ASSERT_TRUE(runPostedJobs());
    EXPECT_EQ(laterEntries(),
              (Lines{"relay: stop", "🛑 Syphon server stopped", "relay: destroyed"}));
    EXPECT_EQ(fakes.relay->publications->size(), 1u);  // frame 1 only
}

TEST_F(ReceiverJobHolding, ANotificationJobChecksFirstThenTheTeardownFollows) {
    fakes.clock->time += 0.5;
    write(60);
    fakes.notifications->post(std::string(config::newFrameNotificationName));
    ASSERT_EQ(runLoop->posted, 1u);
    std::weak_ptr<TextureReceiver> watch = receiver;
    receiver.reset();
    EXPECT_FALSE(watch.expired()) << "the pending notification job holds the receiver";
    EXPECT_EQ(laterEntries(), Lines{});

    ASSERT_TRUE(runEventLoopUntil([&] { return watch.expired(); }));
    EXPECT_EQ(laterEntries(),
              (Lines{"relay: publish", "✅ Received frame #60 (64x32) - 2.0 fps", "relay: stop",
                     "🛑 Syphon server stopped", "relay: destroyed"}));
    ASSERT_EQ(fakes.relay->publications->size(), 2u);
    EXPECT_TRUE(fakes.relay->publications->back()->committed);
}

TEST_F(ReceiverJobHolding, TimerJobsTakeNewFramesWhileTheReceiverLives) {
    EXPECT_EQ(runLoop->scheduledIntervals,
              std::vector<std::chrono::nanoseconds>{config::pollingInterval});
    write(2);
    ASSERT_TRUE(runEventLoopUntil([&] { return receiver->lastFrameNumber() == 2; }));
    EXPECT_GE(runLoop->ticks, 1u);
    write(3);
    ASSERT_TRUE(runEventLoopUntil([&] { return receiver->lastFrameNumber() == 3; }));
    EXPECT_EQ(fakes.relay->publications->size(), 3u);
}

}  // namespace
