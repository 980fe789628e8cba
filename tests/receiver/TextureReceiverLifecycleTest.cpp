#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "format/Configuration.h"
#include "tests/receiver/ReceiverHarness.h"

namespace {

namespace fs = std::filesystem;

TEST(ReceiverConstruction, LogsEachStepInOrderAndTearsDownInOrder) {
    ReceiverHarness h;
    const size_t descriptorsBefore = openDescriptorCount();
    ASSERT_TRUE(h.makeReceiver());
    EXPECT_EQ(h.fakes.containers->askedFor, "group.com.lumetra.visualizer");
    EXPECT_EQ(h.fakes.relay->createdNames, Lines{"Lumetra Vuzadivirur"});
    EXPECT_TRUE(h.receiver->hasMappedMemory());
    EXPECT_TRUE(h.receiver->hasLockFile());
    ASSERT_EQ(h.fakes.runLoop->scheduledIntervals.size(), 1u);
    EXPECT_EQ(h.fakes.runLoop->scheduledIntervals[0].count(), 16'666'667);
    ASSERT_EQ(h.fakes.notifications->registrations.size(), 1u);
    EXPECT_EQ(h.fakes.notifications->registrations.begin()->second.first,
              "com.lumetra.visualizer.newFrame");
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore + 2);  // frame file and lock file

    const void* identity = h.receiver.get();
    h.receiver.reset();
    EXPECT_EQ(h.fakes.journal->entries,
              (Lines{"relay: create Lumetra Vuzadivirur", serverCreated, initialized, listening,
                     timerStarted, "relay: stop", serverStopped, "relay: destroyed"}));
    EXPECT_EQ(h.fakes.runLoop->liveTimers(), 0u);
    EXPECT_EQ(h.fakes.notifications->removals, std::vector<const void*>{identity});
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    EXPECT_EQ(h.willChangeCount, 0) << "the teardown assigns no published field";
}

TEST(ReceiverConstruction, EachFailureLogsItsLinesAndYieldsNoReceiver) {
    {  // No command queue: nothing at all happens.
        ReceiverHarness h;
        h.device->faults().noCommandQueue = true;
        EXPECT_FALSE(h.makeReceiver());
        EXPECT_TRUE(h.fakes.journal->entries.empty());
    }
    {  // No container folder.
        ReceiverHarness h;
        h.fakes.containers = std::make_shared<FakeContainerLocator>(std::nullopt);
        EXPECT_FALSE(h.makeReceiver());
        EXPECT_EQ(h.fakes.journal->entries,
                  (Lines{"relay: create Lumetra Vuzadivirur", serverCreated,
                         "❌ Failed to get App Group container URL", "relay: stop", serverStopped,
                         "relay: destroyed"}));
    }
    {  // The frame file exists but cannot be opened: the server goes without being stopped.
        ReceiverHarness h({}, false);
        fs::create_directory(h.dir.path() / "shared_texture.bin");
        const size_t descriptorsBefore = openDescriptorCount();
        EXPECT_FALSE(h.makeReceiver());
        const auto entries = h.fakes.journal->entries;
        ASSERT_EQ(entries.size(), 4u);
        EXPECT_EQ(entries[1], serverCreated);
        EXPECT_EQ(entries[2].rfind("❌ Failed to open shared file: ", 0), 0u) << entries[2];
        EXPECT_NE(entries[2].find("Is a directory"), std::string::npos) << entries[2];
        EXPECT_EQ(entries[3], "relay: destroyed");
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    }
    {  // The lock file exists but cannot be opened: the teardown runs and closes the frame file.
        ReceiverHarness h({.createLockFile = false});
        fs::create_directory(h.dir.path() / "shared_texture.lock");
        const size_t descriptorsBefore = openDescriptorCount();
        EXPECT_FALSE(h.makeReceiver());
        const auto lines = h.logLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], serverCreated);
        EXPECT_EQ(lines[1].rfind("❌ Failed to open shared file: ", 0), 0u) << lines[1];
        EXPECT_EQ(lines[2], serverStopped);
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    }
    {  // The mapping fails (a FIFO opens but cannot be mapped): both handles are closed.
        ReceiverHarness h({}, false);
        std::ofstream(h.dir.path() / "shared_texture.lock").put('\0');
        ASSERT_EQ(::mkfifo((h.dir.path() / "shared_texture.bin").c_str(), 0600), 0);
        const size_t descriptorsBefore = openDescriptorCount();
        EXPECT_FALSE(h.makeReceiver());
        EXPECT_EQ(h.fakes.journal->entries,
                  (Lines{"relay: create Lumetra Vuzadivirur", serverCreated, "❌ mmap failed",
                         "relay: stop", serverStopped, "relay: destroyed"}));
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    }
}

TEST(ReceiverConstruction, PlatformShortcomingsAreReportedNotHidden) {
    ReceiverHarness h;
    h.fakes.relay->failure = "no PipeWire daemon";
    h.fakes.notifications->refuseWith = "no session bus";
    ASSERT_TRUE(h.makeReceiver());
    EXPECT_EQ(h.logLines(),
              (Lines{"❌ Failed to create Syphon server 'Lumetra Vuzadivirur': no PipeWire daemon "
                     "(frames are not relayed)",
                     initialized,
                     "❌ Failed to listen for frames from Lumetra: no session bus (polling only)",
                     timerStarted}));
}

TEST(ReceiverConstruction, FrameAlreadyInTheFileIsTakenBeforeTheFirstTick) {
    ReceiverHarness h;
    h.writeFrame(120, 8, 4);
    ASSERT_TRUE(h.makeReceiver());
    EXPECT_EQ(h.receiver->lastFrameNumber(), 120);
    ASSERT_TRUE(h.receiver->currentTexture());
    EXPECT_EQ(h.receiver->currentTexture()->width(), 8u);
    EXPECT_TRUE(h.fakes.runLoop->jobs.empty());
    // The first frame taken, a multiple of 60, reports the rate it has: none yet.
    EXPECT_EQ(h.logLines().back(), "✅ Received frame #120 (8x4) - 0.0 fps");
}

TEST(ReceiverConstruction, WithoutLockFileReadsUnlockedForItsWholeLife) {
    ReceiverHarness h({.createLockFile = false});
    ASSERT_TRUE(h.makeReceiver());
    EXPECT_FALSE(h.receiver->hasLockFile());
    EXPECT_EQ(h.logLines(), (Lines{serverCreated, initialized, listening, timerStarted}));

    // A lock file that appears later, even held exclusively, is never used by this receiver.
    const auto lockPath = h.dir.path() / "shared_texture.lock";
    std::ofstream(lockPath).put('\0');
    const int fd = ::open(lockPath.c_str(), O_RDWR);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    h.writeFrame(1, 4, 4);
    h.receiver->checkForNewFrame();  // would block forever if it took the lock
    EXPECT_EQ(h.receiver->lastFrameNumber(), 1);
    ::close(fd);
}

TEST(ReceiverConstruction, WaitsForTheHostToCreateTheFrameFile) {
    ReceiverHarness h({}, false);
    ASSERT_TRUE(h.makeReceiver());
    EXPECT_TRUE(h.receiver->isWaitingForSharedFile());
    for (int i = 0; i < 3; ++i) h.receiver->checkForNewFrame();
    EXPECT_EQ(h.logLines(), (Lines{serverCreated, "⏳ Waiting for Lumetra to create shared file...",
                                   listening, timerStarted}));

    std::string failure;
    h.writer = SharedFrameWriter::create(h.dir.path(), {}, failure);
    ASSERT_TRUE(h.writer) << failure;
    // The host's files appear whole: the frame file at its full length, and nothing else.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(h.dir.path())) ++entries;
    EXPECT_EQ(entries, 2u);
    EXPECT_EQ(fs::file_size(h.dir.path() / "shared_texture.bin"), SharedFrameHeader::mappingLength);
    h.writeFrame(5, 6, 2);
    h.fakes.runLoop->tickTimers();
    h.fakes.runLoop->runPendingJobs();
    EXPECT_FALSE(h.receiver->isWaitingForSharedFile());
    EXPECT_TRUE(h.receiver->hasLockFile());
    EXPECT_EQ(h.receiver->lastFrameNumber(), 5);
    EXPECT_EQ(h.logLines().back(), initialized);
    h.receiver.reset();
    EXPECT_EQ(h.logLines().back(), serverStopped);
}

TEST(ReceiverJobs, TimerJobsHoldTheReceiverWeaklyAndNotificationJobsStrongly) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    std::weak_ptr<TextureReceiver> weak = h.receiver;

    // Ticks queue jobs; once the owner lets go they find no receiver and do nothing.
    h.fakes.runLoop->tickTimers();
    h.fakes.runLoop->tickTimers();
    EXPECT_EQ(h.fakes.runLoop->jobs.size(), 2u);
    h.writeFrame(1, 4, 4);
    h.receiver.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(h.fakes.runLoop->runPendingJobs(), 2u);
    EXPECT_EQ(h.logLines().back(), serverStopped);
    EXPECT_EQ(h.publicationCount(), 0u);
}

TEST(ReceiverJobs, PendingNotificationJobRunsItsCheckBeforeTheTeardown) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    std::weak_ptr<TextureReceiver> weak = h.receiver;
    h.writeFrame(60, 4, 4);
    h.fakes.notifications->post("com.lumetra.visualizer.newFrame");
    h.receiver.reset();
    EXPECT_FALSE(weak.expired()) << "the notification job keeps the receiver alive";
    h.fakes.runLoop->runPendingJobs();
    EXPECT_TRUE(weak.expired());
    const auto lines = h.logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "✅ Received frame #60 (4x4) - 0.0 fps");
    EXPECT_EQ(lines.back(), serverStopped);
}

TEST(ReceiverJobs, EveryTickAndNotificationRunsItsOwnCheckAndAFrameIsTakenOnce) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    h.writeFrame(7, 4, 4);
    h.fakes.notifications->post("com.lumetra.visualizer.newFrame");
    h.fakes.runLoop->tickTimers();
    h.fakes.notifications->post("com.lumetra.visualizer.newFrame");
    EXPECT_EQ(h.fakes.runLoop->runPendingJobs(), 3u);
    EXPECT_EQ(h.publicationCount(), 1u);
    EXPECT_EQ(h.willChangeCount, 3);  // texture, number, receiving: the first frame has no rate
}

}  // namespace
