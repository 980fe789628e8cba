#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstring>
#include <future>
#include <thread>

#include "receiver/BusErrorGuard.h"
#include "tests/receiver/ReceiverHarness.h"

namespace {

TEST(FrameIngestion, FramesArriveExactlyAndAreRelayedInTexturesNeverWrittenAgain) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    Lines seen;
    h.receiver->objectWillChange.connect([&] {
        seen.push_back(std::to_string(h.receiver->lastFrameNumber()) +
                       (h.receiver->isReceiving() ? "/1" : "/0"));
    });
    // Rows 40 bytes apart holding 7 pixels each; bytes 12 to 23 belong to the writer.
    const auto padded = h.writeFrame(1, 7, 5, 40);
    std::memset(h.writer->slot() + 12, 0xFF, 12);
    h.receiver->checkForNewFrame();
    std::vector<uint8_t> packed;
    for (size_t y = 0; y < 5; ++y) {
        packed.insert(packed.end(), padded.begin() + y * 40, padded.begin() + y * 40 + 28);
    }
    EXPECT_EQ(h.shown(), packed);
    // Each signal comes before its assignment: observers still see the old values.
    EXPECT_EQ(seen, (Lines{"0/0", "0/0", "1/0"}));
    const auto kept = h.receiver->currentTexture();
    const std::vector<uint8_t> grey(7 * 5 * 4, 0x80);
    h.fakes.clock->time += 0.25;
    h.writer->writeFrame(2, 7, 5, 28, grey.data());
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.shown(), grey);
    EXPECT_EQ(h.receiver->fps(), 4.0);
    const auto largest = h.writeFrame(0xFFFFFFFF, 3840, 2160);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.shown(), largest);
    EXPECT_EQ(h.receiver->lastFrameNumber(), 4294967295);  // widened, not wrapped
    EXPECT_EQ(textureBytes(*kept), packed);
    EXPECT_EQ(h.willChangeCount, 3 + 4 + 4);
    ASSERT_EQ(h.fakes.relay->publications->size(), 3u);
    const auto& last = *h.fakes.relay->publications->back();
    EXPECT_EQ(last.texture, h.receiver->currentTexture());
    EXPECT_TRUE(last.flipped && last.committed);
}

// Each header is looked at twice; its lines are said as often as due, and nothing is taken.
TEST(FrameIngestion, HeadersThatHoldNoFrameToTakeChangeNothing) {
    const std::string skipped = "⚠️ Frame #2 skipped: 4 rows of ";
    const std::pair<SharedFrameHeader, Lines> cases[] = {
        {{0, 0, 0, 0, 0}, {}},  // a zero-filled slot
        {{4, 4, 0, 16, 64}, {}},
        {{0, 4, 9, 16, 64}, {}},
        {{4, 0, 9, 16, 64}, {}},
        {{4, 4, 2, 16, 0}, Lines(2, "⚠️ Invalid data size: 0")},
        {{3840, 2160, 2, 15360, 33'177'601}, Lines(2, "⚠️ Invalid data size: 33177601")},
        {{8, 4, 2, 16, 128},
         {skipped + "8 pixels, 16 bytes apart, do not fit its data size of 128"}},
        {{4, 4, 2, 16, 63}, {skipped + "4 pixels, 16 bytes apart, do not fit its data size of 63"}},
        // In 32 bits (height − 1) × bytesPerRow would wrap to 0.
        {{1, 0x10001, 2, 0x10000, 4},
         {"⚠️ Frame #2 skipped: 65537 rows of 1 pixels, 65536 bytes apart, do not fit its data "
          "size of 4"}},
        {{16385, 1, 2, 16385 * 4, 16385 * 4}, Lines(2, "⚠️ Failed to create texture")},
    };
    for (const auto& [header, expected] : cases) {
        ReceiverHarness h;
        ASSERT_TRUE(h.makeReceiver());
        h.writer->writeHeader(header);
        h.receiver->checkForNewFrame();
        h.receiver->checkForNewFrame();
        const auto lines = h.logLines();
        EXPECT_EQ(Lines(lines.begin() + 4, lines.end()), expected) << header.width;
        EXPECT_EQ(h.willChangeCount, 0);
        // The last row needs only 4 × width bytes, not a whole bytesPerRow.
        h.writer->writeHeader({4, 4, 3, 32, 3 * 32 + 16});
        h.receiver->checkForNewFrame();
        EXPECT_EQ(h.receiver->lastFrameNumber(), 3);
    }
}

TEST(FrameIngestion, FileShorterThanItsHeaderAnnouncesIsNeverReadPast) {
    ReceiverHarness h({.createLockFile = true, .fileLength = 32 + 64});
    ASSERT_TRUE(h.makeReceiver());
    h.writer->writeHeader({4, 16, 1, 16, 256});  // 16 rows; the file holds 4
    for (int i = 0; i < 2; ++i) h.receiver->checkForNewFrame();
    h.writeFrame(2, 4, 4);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.receiver->lastFrameNumber(), 2);
    // Cut below its header, then whole again.
    ASSERT_TRUE(h.writer->truncate(10));
    for (int i = 0; i < 2; ++i) h.receiver->checkForNewFrame();
    ASSERT_TRUE(h.writer->truncate(SharedFrameHeader::mappingLength));
    h.writeFrame(3, 4, 4);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.receiver->lastFrameNumber(), 3);
    const auto lines = h.logLines();
    EXPECT_EQ(
        Lines(lines.begin() + 4, lines.end()),
        (Lines{"⚠️ Frame #1 skipped: the shared file holds 96 bytes, fewer than its header "
               "announces",
               "⚠️ Shared file holds 10 bytes, too few for a frame header; waiting for a "
               "frame"}));
}

// The host writes a frame of another size between the check's look at the header and its copy.
TEST(FrameIngestion, AHostChangingSizeEveryFrameNeverYieldsAMislabelledPicture) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    uint32_t written = 0;
    int every = 2, calls = 0;
    const auto writeNext = [&] {
        const uint32_t n = ++written, width = 8 + n % 5, height = 4 + n % 3;
        const std::vector<uint8_t> pixels(size_t{width} * height * 4, static_cast<uint8_t>(n));
        h.writer->writeFrame(n, width, height, width * 4, pixels.data());
    };
    h.device->faults().onNewTexture = [&] {
        if (++calls % every == 0) writeNext();
    };
    for (int i = 0; i < 12; ++i) {
        writeNext();
        h.receiver->checkForNewFrame();
        ASSERT_EQ(h.receiver->lastFrameNumber(), written) << "the newest frame is taken";
        const auto& texture = *h.receiver->currentTexture();
        EXPECT_EQ(texture.width(), 8 + written % 5);
        EXPECT_EQ(texture.height(), 4 + written % 3);
        EXPECT_EQ(h.shown(), std::vector<uint8_t>(texture.width() * texture.height() * 4,
                                                  static_cast<uint8_t>(written)));
    }
    every = 1;  // a new size at every try: the check gives up and a later one tries again
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.fakes.relay->publications->size(), 12u);
}

TEST(FrameIngestion, NumbersGoingBackAreAHostStartingOverAndARepeatIsNotTakenTwice) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    for (const uint32_t n : {5u, 5u, 0xFFFFFFFFu, 1u, 2u}) {
        h.fakes.clock->time += n == 2 ? 0.5 : 0.1;
        h.writeFrame(n, 4, 4);
        h.receiver->checkForNewFrame();
    }
    EXPECT_EQ(h.fakes.relay->publications->size(), 4u);
    const auto lines = h.logLines();
    EXPECT_EQ(Lines(lines.begin() + 4, lines.end()), Lines{"🔄 Lumetra started over at frame #1"});
    EXPECT_EQ(h.receiver->fps(), 2.0) << "the rate holds only the new run's interval";
}

// The rate is the mean of the last 30 intervals; the progress line says it with a full stop
// whatever the locale.
TEST(FrameRate, ProgressLineAtMultiplesOfSixtyWithTheRateOfTheLastThirtyIntervals) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "needs the de_DE.UTF-8 locale";
    for (uint32_t n = 20; n <= 120; ++n) {
        h.fakes.clock->time += n <= 30 || (n > 61 && n <= 100) ? 0.1 : 1.0 / 59.94;
        h.writeFrame(n, 64, 36);
        h.receiver->checkForNewFrame();
    }
    std::setlocale(LC_ALL, saved.c_str());
    const auto lines = h.logLines();
    EXPECT_EQ(Lines(lines.begin() + 4, lines.end()),
              (Lines{"✅ Received frame #60 (64x36) - 59.9 fps",
                     "✅ Received frame #120 (64x36) - 22.5 fps"}));
}

// The lock file appears after the frame file was attached. While the host holds it, a check
// returns at once and takes nothing, though the slot already shows a whole new header.
TEST(LockProtocol, ALateLockFileIsUsedAndAHeldLockNeverKeepsTheCheckWaiting) {
    ReceiverHarness h({.createLockFile = false});
    ASSERT_TRUE(h.makeReceiver());
    std::string failure;
    const auto lockingHost = SharedFrameWriter::create(h.dir.path(), {}, failure);
    ASSERT_TRUE(lockingHost) << failure;
    lockingHost->lockExclusive();
    const auto pixels = h.writeFrame(1, 64, 64);
    auto check = std::async(std::launch::async, [&] { h.receiver->checkForNewFrame(); });
    const bool returned = check.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    lockingHost->unlock();
    check.get();
    EXPECT_TRUE(returned) << "the check waited for the host's lock";
    EXPECT_EQ(h.receiver->lastFrameNumber(), 0);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.shown(), pixels);
}

TEST(BusErrorGuard, AReadPastTheEndOfAShrunkFileEndsTheReadNotTheProcess) {
    ReceiverHarness h;
    const volatile uint8_t* bytes = h.writer->slot();
    int sum = 0;
    EXPECT_TRUE(BusErrorGuard::run([&] { sum += bytes[40000]; }));
    ASSERT_TRUE(h.writer->truncate(100));
    EXPECT_FALSE(BusErrorGuard::run([&] { sum += bytes[40000]; }));
    EXPECT_FALSE(BusErrorGuard::run([&] { sum += bytes[50000]; })) << "the guard works again";
    EXPECT_TRUE(BusErrorGuard::run([&] { sum += bytes[10]; }));
}

TEST(BusErrorGuardDeathTest, ABusErrorOutsideTheGuardStillEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    BusErrorGuard::run([] {});  // the handler is installed
    // Handed on to whoever handled it before (the default action, or a sanitizer's report).
    const auto endedAbnormally = [](int status) {
        return !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    };
    EXPECT_EXIT((::raise(SIGBUS), std::exit(0)), endedAbnormally, "");
}

// Without a lock file nothing stops a host from cutting the file while a frame is copied.
TEST(SharedFileSafety, AFileThatShrinksDuringUnlockedCopiesNeverCrashesTheReceiver) {
    ReceiverHarness h({.createLockFile = false});
    ASSERT_TRUE(h.makeReceiver());
    const uint32_t side = 1024;
    std::atomic<bool> stop{false};
    std::thread host([&] {
        while (!stop) {
            h.writer->truncate(SharedFrameHeader::mappingLength);
            std::this_thread::sleep_for(std::chrono::microseconds(400));
            h.writer->truncate(32 + 4096);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    // Frames until a copy has been cut short (bounded, in case the timing never lines up).
    const auto& journal = h.fakes.journal->entries;
    const auto cutShort = [&] { return journal.back().find("shrank") != std::string::npos; };
    for (uint32_t frame = 1; frame <= 20000 && !cutShort(); ++frame) {
        SharedFrameHeader header{side, side, frame, side * 4, side * side * 4};
        BusErrorGuard::run([&] { header.store(h.writer->slot()); });  // the host may fault too
        h.receiver->checkForNewFrame();
    }
    stop = true;
    host.join();
    std::printf("a copy cut short seen: %s\n", cutShort() ? "yes" : "no");
}

}  // namespace
