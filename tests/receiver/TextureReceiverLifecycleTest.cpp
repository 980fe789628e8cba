#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/receiver/ReceiverHarness.h"

namespace {

namespace fs = std::filesystem;

// A frame already in the file is taken before the first tick; the first frame taken, a
// multiple of 60, reports the rate it has: none yet.
TEST(ReceiverConstruction, LogsEachStepInOrderTakesTheFrameThereAndTearsDownInOrder) {
    ReceiverHarness h;
    h.writeFrame(120, 8, 4);
    const size_t descriptorsBefore = openDescriptorCount();
    ASSERT_TRUE(h.makeReceiver());
    EXPECT_EQ(h.fakes.containers->askedFor, "group.com.lumetra.visualizer");
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore + 2);  // frame file and lock file

    const void* identity = h.receiver.get();
    h.receiver.reset();
    EXPECT_EQ(h.fakes.journal->entries,
              (Lines{"relay: create Lumetra Vuzadivirur", serverCreated, initialized, listening,
                     timerStarted, "relay: publish", "✅ Received frame #120 (8x4) - 0.0 fps",
                     "relay: stop", serverStopped, "relay: destroyed"}));
    EXPECT_EQ(h.fakes.runLoop->liveTimers(), 0u);
    EXPECT_EQ(h.fakes.notifications->removals, std::vector<const void*>{identity});
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST(ReceiverConstruction, EachFailureIsReportedAndLeaksNoDescriptor) {
    const std::string cannotOpen = "❌ Failed to open shared file: ";
    const Lines stopped{"relay: stop", serverStopped, "relay: destroyed"};
    // What the frame and lock files are (d: a folder, f: a file, p: a FIFO, which opens but
    // cannot be mapped), and the journal after the attempt; a line ending in ": " is a prefix.
    const std::tuple<char, char, Lines> cases[] = {
        // An unopenable frame file lets the server go without being stopped.
        {'d', '-', {serverCreated, cannotOpen, "relay: destroyed"}},
        {'f', 'd', {serverCreated, cannotOpen, stopped[0], stopped[1], stopped[2]}},
        {'p', 'f', {serverCreated, "❌ mmap failed", stopped[0], stopped[1], stopped[2]}},
    };
    const auto make = [](const fs::path& path, char kind) {
        if (kind == 'd') fs::create_directory(path);
        if (kind == 'f') std::ofstream(path).put('\0');
        if (kind == 'p') ::mkfifo(path.c_str(), 0600);
    };
    for (const auto& [frameFile, lockFile, expected] : cases) {
        ReceiverHarness h({}, false);
        make(h.dir.path() / "shared_texture.bin", frameFile);
        make(h.dir.path() / "shared_texture.lock", lockFile);
        const size_t descriptorsBefore = openDescriptorCount();
        EXPECT_FALSE(h.makeReceiver());
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
        Lines entries(h.fakes.journal->entries.begin() + 1, h.fakes.journal->entries.end());
        for (auto& entry : entries) {
            if (entry.rfind(cannotOpen, 0) == 0 && entry.find("Is a directory") != entry.npos) {
                entry = cannotOpen;
            }
        }
        EXPECT_EQ(entries, expected);
    }
    ReceiverHarness h;
    h.fakes.containers = std::make_shared<FakeContainerLocator>(std::nullopt);
    EXPECT_FALSE(h.makeReceiver());
    EXPECT_EQ(h.logLines(),
              (Lines{serverCreated, "❌ Failed to get App Group container URL", serverStopped}));

    // Platform services that fail leave a working receiver, and are reported, not hidden.
    ReceiverHarness shortOf;
    shortOf.fakes.relay->failure = "no PipeWire daemon";
    shortOf.fakes.notifications->refuseWith = "no session bus";
    ASSERT_TRUE(shortOf.makeReceiver());
    EXPECT_EQ(shortOf.logLines(),
              (Lines{"❌ Failed to create Syphon server 'Lumetra Vuzadivirur': no PipeWire daemon "
                     "(frames are not relayed)",
                     initialized,
                     "❌ Failed to listen for frames from Lumetra: no session bus (polling only)",
                     timerStarted}));
}

// The host starts after the application, and later restarts, deleting its files and making
// them anew: the new ones are attached within a second, and the old ones closed.
TEST(ReceiverConstruction, WaitsForTheHostsFilesAndFollowsThemWhenMadeAnew) {
    ReceiverHarness h({}, false);
    ASSERT_TRUE(h.makeReceiver());
    for (int i = 0; i < 3; ++i) h.receiver->checkForNewFrame();
    EXPECT_EQ(h.logLines(), (Lines{serverCreated, "⏳ Waiting for Lumetra to create shared file...",
                                   listening, timerStarted}));
    std::string failure;
    for (const uint32_t frame : {5, 6}) {
        h.writer.reset();
        fs::remove(h.dir.path() / "shared_texture.bin");
        fs::remove(h.dir.path() / "shared_texture.lock");
        const size_t descriptorsBefore = openDescriptorCount();
        h.writer = SharedFrameWriter::create(h.dir.path(), {}, failure);
        const auto pixels = h.writeFrame(frame, 6, frame);
        h.fakes.clock->time += 0.5;
        h.fakes.runLoop->tickTimers();
        h.fakes.runLoop->runPendingJobs();
        EXPECT_EQ(h.shown(), pixels);
        // The writer's two, and the receiver's frame and lock files: the old ones were closed.
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore + 2 + (frame == 5 ? 2 : 0));
    }
    const auto lines = h.logLines();
    EXPECT_EQ(Lines(lines.begin() + 4, lines.end()),
              (Lines{initialized, "🔄 Lumetra replaced its shared file; attaching the new one",
                     initialized}));
}

}  // namespace
