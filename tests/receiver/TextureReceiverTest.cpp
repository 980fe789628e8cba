// The receiver beside a host writer in a temporary folder, with fakes for the platform.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "receiver/BusErrorGuard.h"
#include "tests/receiver/ReceiverHarness.h"

namespace {

using namespace std::chrono_literals;

// A frame in the file is taken before the first tick, #120 reporting no rate yet. Padded rows
// arrive packed, header bytes 12 to 23 are the writer's, a relayed texture is never rewritten.
TEST(ReceiverConstruction, TakesFramesExactlyIntoFreshTexturesAndTearsDownInOrder) {
    ReceiverHarness h({}, Start::files);
    h.writeFrame(120, 8, 4);
    const size_t descriptorsBefore = openDescriptorCount();
    ASSERT_TRUE(h.makeReceiver());
    h.writer->writeFrame(121, 7, 5, 40, TestPattern::quadrants(7, 5, 40).data());
    std::memset(h.writer->slot() + 12, 0xFF, 12);
    h.receiver->checkForNewFrame();
    const auto packed = TestPattern::quadrants(7, 5, 7 * 4);
    EXPECT_EQ(h.shown(), packed);
    const auto kept = h.receiver->currentTexture();
    const std::vector<uint8_t> grey(7 * 5 * 4, 0x80);
    h.writer->writeFrame(122, 7, 5, 28, grey.data());
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.shown(), grey);
    const auto largest = h.writeFrame(123, 3840, 2160);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.shown(), largest);
    EXPECT_EQ(h.shown(kept), packed);
    EXPECT_EQ(h.fakes.journal->publications.back(), h.receiver->currentTexture());
    const void* identity = h.receiver.get();
    h.receiver.reset();
    EXPECT_EQ(h.fakes.journal->entries,
              (Lines{"relay: create Lumetra Vuzadivirur", serverCreated, initialized, listening,
                     timerStarted, "relay: publish", "✅ Received frame #120 (8x4) - 0.0 fps",
                     "relay: publish", "relay: publish", "relay: publish", "relay: stop",
                     serverStopped, "relay: destroyed"}));
    EXPECT_EQ(h.fakes.runLoop->liveTimers(), 0u);
    EXPECT_EQ(h.fakes.frameSignal->removals, std::vector<const void*>{identity});
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST(ReceiverConstruction, EachFailureIsReportedAndLeaksNoDescriptor) {
    const std::string cannotOpen = "❌ Failed to open shared file: ";
    // What the frame and lock files are (d: a folder, f: a file, p: a FIFO, which opens but
    // cannot be mapped), and the lines logged; a line ending in ": " is a prefix.
    const std::tuple<char, char, Lines> cases[] = {
        {'d', '-', {serverCreated, cannotOpen}},  // the server goes without being stopped
        {'f', 'd', {serverCreated, cannotOpen, serverStopped}},
        {'p', 'f', {serverCreated, "❌ mmap failed", serverStopped}},
    };
    const auto make = [](const std::filesystem::path& path, char kind) {
        if (kind == 'd') std::filesystem::create_directory(path);
        if (kind == 'f') std::ofstream(path).put('\0');
        if (kind == 'p') ::mkfifo(path.c_str(), 0600);
    };
    for (const auto& [frameFile, lockFile, expected] : cases) {
        ReceiverHarness h({}, Start::empty);
        make(h.dir.path() / "shared_texture.bin", frameFile);
        make(h.dir.path() / "shared_texture.lock", lockFile);
        const size_t descriptorsBefore = openDescriptorCount();
        EXPECT_FALSE(h.makeReceiver());
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
        Lines lines = h.logLines();
        for (auto& line : lines) line = line.starts_with(cannotOpen) ? cannotOpen : line;
        EXPECT_EQ(lines, expected);
    }
}

// The host starts late, then restarts with new files: they are attached within a second and the old
// ones closed. Platform services that fail are reported and leave a receiver that polls.
TEST(ReceiverConstruction, WaitsForTheHostsFilesAndFollowsThemWhenMadeAnew) {
    ReceiverHarness h({}, Start::empty);
    h.fakes.relay->failure = "no PipeWire daemon";
    h.fakes.frameSignal->refuseWith = "no session bus";
    ASSERT_TRUE(h.makeReceiver());
    for (int i = 0; i < 3; ++i) h.receiver->checkForNewFrame();
    for (const uint32_t frame : {5, 6}) {
        h.writer.reset();
        for (const char* name : {"shared_texture.bin", "shared_texture.lock"})
            std::filesystem::remove(h.dir.path() / name);
        const size_t descriptorsBefore = openDescriptorCount();
        h.writer = SharedFrameWriter::create(h.dir.path(), {}, h.failure);
        const auto pixels = h.writeFrame(frame, 6, frame);
        h.tick(0.5);
        EXPECT_EQ(h.shown(), pixels);
        // The writer's two, and the receiver's frame and lock files: the old ones were closed.
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore + 2 + (frame == 5 ? 2 : 0));
    }
    EXPECT_EQ(h.logLines(),
              (Lines{"❌ Failed to create Syphon server 'Lumetra Vuzadivirur': no PipeWire daemon "
                     "(frames are not relayed)",
                     "⏳ Waiting for Lumetra to create shared file...",
                     "❌ Failed to listen for frames from Lumetra: no session bus (polling only)",
                     timerStarted, initialized,
                     "🔄 Lumetra replaced its shared file; attaching the new one", initialized}));
}

// Each header, in a file of the given length, is looked at twice; its lines are said as often as
// due and nothing is taken. A whole frame after it is.
TEST(FrameIngestion, HeadersThatHoldNoFrameToTakeChangeNothing) {
    const std::string skipped = "⚠️ Frame #2 skipped: ",
                      apart = " bytes apart, do not fit its data size of ";
    const struct {
        SharedFrameHeader header;
        Lines expected;
        uint64_t fileLength = SharedFrameHeader::mappingLength;
    } cases[] = {
        // clang-format off
        {{0, 0, 0, 0, 0}, {}}, {{4, 4, 0, 16, 64}, {}}, {{0, 4, 9, 16, 64}, {}},
        {{4, 0, 9, 16, 64}, {}}, {{4, 4, 2, 16, 0}, {"⚠️ Invalid data size: 0"}},
        {{3840, 2160, 2, 15360, 33'177'601}, {"⚠️ Invalid data size: 33177601"}},
        {{8, 4, 2, 16, 128}, {skipped + "4 rows of 8 pixels, 16" + apart + "128"}},
        {{4, 4, 2, 16, 63}, {skipped + "4 rows of 4 pixels, 16" + apart + "63"}},
        // In 32 bits (height − 1) × bytesPerRow would wrap to 0.
        {{1, 0x10001, 2, 0x10000, 4}, {skipped + "65537 rows of 1 pixels, 65536" + apart + "4"}},
        {{16385, 1, 2, 16385 * 4, 16385 * 4}, Lines(2, "⚠️ Failed to create texture")},
        {{4, 16, 2, 16, 256},  // the rows would end 4 bytes past the end
         {skipped + "the shared file holds 284 bytes, fewer than its header announces"}, 284},
        {{4, 4, 2, 16, 64},
         {"⚠️ Shared file holds 10 bytes, too few for a frame header; waiting for a frame"}, 10},
        // clang-format on
    };
    for (const auto& [header, expected, length] : cases) {
        ReceiverHarness h;
        h.writer->truncate(length);
        h.writer->writeHeader(header);
        for (int i = 0; i < 2; ++i) h.receiver->checkForNewFrame();
        const auto lines = h.logLines();
        EXPECT_EQ(Lines(lines.begin() + 4, lines.end()), expected) << header.width;
        EXPECT_FALSE(h.receiver->currentTexture());
        // The last row needs only 4 × width bytes, not a whole bytesPerRow.
        h.writer->truncate(SharedFrameHeader::mappingLength);
        h.writer->writeHeader({4, 4, 3, 32, 3 * 32 + 16});
        h.receiver->checkForNewFrame();
        EXPECT_EQ(h.receiver->lastFrameNumber(), 3);
    }
}

// The host writes a frame of another size between the check's look at the header and its copy.
TEST(FrameIngestion, AHostChangingSizeEveryFrameNeverYieldsAMislabelledPicture) {
    ReceiverHarness h;
    uint32_t written = 0, every = 2, calls = 0;
    const auto writeNext = [&] {
        const uint32_t n = ++written, width = 8 + n % 5, height = 4 + n % 3;
        const std::vector<uint8_t> pixels(size_t{width} * height * 4, uint8_t(n));
        h.writer->writeFrame(n, width, height, width * 4, pixels.data());
    };
    h.frameStore->faults().onNewTexture = [&] { ++calls % every ? void() : writeNext(); };
    for (int i = 0; i < 12; ++i) {
        writeNext();
        h.receiver->checkForNewFrame();
        ASSERT_EQ(h.receiver->lastFrameNumber(), written) << "the newest frame is taken";
        const auto& t = *h.receiver->currentTexture();
        EXPECT_EQ(std::pair(t.width(), t.height()), std::pair(8 + written % 5, 4 + written % 3));
        EXPECT_EQ(h.shown(), std::vector<uint8_t>(h.shown().size(), uint8_t(written)));
    }
    every = 1;  // a new size at every try: the check gives up and a later one tries again
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.fakes.journal->publications.size(), 12u);
}

// The rate is the mean of the last 30 intervals, said with a full stop whatever the locale. A
// number that goes back is a host starting over, taken with a fresh rate; a repeat is not taken.
TEST(FrameRate, LastThirtyIntervalsInAnyLocaleAndAFreshStartWhenNumbersGoBack) {
    ReceiverHarness h;
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "needs the de_DE.UTF-8 locale";
    for (uint32_t n = 20; n <= 120; ++n) {
        h.fakes.clock->time += n <= 30 || (n > 61 && n <= 100) ? 0.1 : 1.0 / 59.94;
        h.writeFrame(n, 64, 36);
        h.receiver->checkForNewFrame();
    }
    std::setlocale(LC_ALL, saved.c_str());
    for (const uint32_t n : {120u, 0xFFFFFFFFu, 1u, 2u}) {  // the highest number, widened
        h.fakes.clock->time += n == 2 ? 0.5 : 0.1;
        h.writeFrame(n, 4, 4);
        h.receiver->checkForNewFrame();
    }
    EXPECT_EQ(h.fakes.journal->publications.size(), 101u + 3);
    EXPECT_EQ(h.receiver->fps(), 2.0) << "the rate holds only the new run's interval";
    const auto lines = h.logLines();
    EXPECT_EQ(
        Lines(lines.begin() + 4, lines.end()),
        (Lines{"✅ Received frame #60 (64x36) - 59.9 fps",
               "✅ Received frame #120 (64x36) - 22.5 fps", "🔄 Lumetra started over at frame #1"}));
}

// The polling timer, a quarter second later each time, finds frames, then only headers of an
// invalid size, then a host hung holding its lock: a second after the last frame, not before,
// the receiver says once that none come and shows no rate. The next frame is received again,
// and the silence is no interval.
TEST(FrameRate, ASecondWithoutFramesIsSaidOnceAndIsNoIntervalOfTheRate) {
    ReceiverHarness h;
    std::string receiving;  // after each tick
    const auto tick = [&] { h.tick(0.25), receiving += h.receiver->isReceiving() ? 'R' : '-'; };
    for (const uint32_t n : {1, 2, 3}) h.writeFrame(n, 4, 4), tick();
    for (const uint32_t n : {4, 4, 5}) h.writer->writeHeader({4, 4, n, 16, 0}), tick();
    h.writer->lockExclusive();
    for (int i = 0; i < 5; ++i) tick();
    h.writer->unlock();
    EXPECT_EQ(h.receiver->fps(), 0.0) << "no rate while none come";
    for (const uint32_t n : {6, 7}) h.writeFrame(n, 4, 4), tick();
    EXPECT_EQ(receiving, "RRRRRR-----RR");
    EXPECT_EQ(h.receiver->fps(), 4.0) << "the silence is no interval";
    const auto lines = h.logLines();
    EXPECT_EQ(Lines(lines.begin() + 4, lines.end()),
              (Lines{"⚠️ Invalid data size: 0", "⚠️ Invalid data size: 0",
                     "⚠️ No frames from Lumetra for 1 s", "✅ Frames from Lumetra again"}));
}

// As root every file is writable: the file-system rights of an ordinary user make a read-only
// file read-only for this thread. Without root it changes nothing.
struct OrdinaryUserFiles {
    OrdinaryUserFiles() { ::setfsuid(65534); }
    ~OrdinaryUserFiles() { ::setfsuid(::geteuid()); }
};

// The lock file appears after the frame file was attached, before the first frame or after
// frames were taken without it; both may be read-only to the user. From then on, while the host
// holds it, a check returns at once and takes nothing, though the slot already shows a whole new
// header; another reader's shared lock keeps nothing out.
TEST(LockProtocol, ALateLockFileIsUsedAndOnlyTheHostsLockKeepsTheFrameOut) {
    for (const auto& [framesBefore, mode] : {std::pair{0u, 0600}, {2u, 0600}, {0u, 0444}}) {
        const OrdinaryUserFiles user;
        ReceiverHarness h({.createLockFile = false}, Start::files);
        ASSERT_EQ(::chmod(h.writer->framePath().c_str(), mode), 0);
        ASSERT_TRUE(h.makeReceiver());
        ::chmod(h.writer->framePath().c_str(), 0600);  // for the host's second writer below
        for (uint32_t n = 1; n <= framesBefore; ++n) h.writeFrame(n, 4, 4);
        h.receiver->checkForNewFrame();
        const auto lockingHost = SharedFrameWriter::create(h.dir.path(), {}, h.failure);
        ASSERT_EQ(::chmod(lockingHost->lockPath().c_str(), mode), 0);
        h.fakes.clock->time += framesBefore ? 0.25 : 0.0;  // when the files are looked at again
        lockingHost->lockExclusive();
        const auto pixels = h.writeFrame(framesBefore + 1, 64, 64);
        auto check = std::async(std::launch::async, [&] { h.receiver->checkForNewFrame(); });
        EXPECT_EQ(check.wait_for(10s), std::future_status::ready) << "it waited for the lock";
        lockingHost->unlock();
        check.get();
        EXPECT_EQ(h.receiver->lastFrameNumber(), framesBefore) << mode;
        const int reader = ::open(lockingHost->lockPath().c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(reader, LOCK_SH), 0);
        h.receiver->checkForNewFrame();
        ::close(reader);
        EXPECT_EQ(h.shown(), pixels);
    }
}

// A read past the end of a shrunk file ends the read, not the process, every time. A bus error
// outside the guard is handed on to whoever handled it before, and still ends the process.
TEST(BusErrorGuardDeathTest, EndsOnlyAReadPastTheEndOfAShrunkFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ReceiverHarness h({}, Start::files);
    const volatile uint8_t* bytes = h.writer->slot();
    int sum = 0;
    EXPECT_TRUE(BusErrorGuard::run([&] { sum += bytes[40000]; }));
    ASSERT_TRUE(h.writer->truncate(100));
    EXPECT_FALSE(BusErrorGuard::run([&] { sum += bytes[40000]; }));
    EXPECT_FALSE(BusErrorGuard::run([&] { sum += bytes[50000]; })) << "the guard works again";
    EXPECT_EXIT((::raise(SIGBUS), std::exit(0)), [](int status) { return status != 0; }, "");
}

// Without a lock file nothing stops a host from cutting the file while a frame is copied.
TEST(SharedFileSafety, AFileThatShrinksDuringUnlockedCopiesNeverCrashesTheReceiver) {
    ReceiverHarness h({.createLockFile = false});
    std::jthread host([&](std::stop_token stop) {  // the rows are there 4/5 of the time
        for (int i = 0; !stop.stop_requested(); std::this_thread::sleep_for(100us))
            h.writer->truncate(i++ % 5 ? SharedFrameHeader::mappingLength : 32 + 4096);
    });
    const auto& log = h.fakes.journal->entries;  // frames until a copy has been cut short
    for (uint32_t n = 1; n <= 20000 && !log.back().ends_with("read"); ++n) {
        h.writer->writeHeader({1024, 1024, n, 4096, 1024 * 1024 * 4});
        h.receiver->checkForNewFrame();
    }
    EXPECT_TRUE(log.back().ends_with(": the shared file shrank while it was being read"))
        << log.back();
}

}  // namespace
