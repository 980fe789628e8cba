#include <gtest/gtest.h>
#include <sys/file.h>

#include <clocale>
#include <cstring>
#include <future>
#include <thread>

#include "tests/receiver/ReceiverHarness.h"

namespace {

// The texture's bytes as tightly packed rows.
std::vector<uint8_t> textureBytes(const gpu::Texture& texture) {
    std::vector<uint8_t> bytes(size_t{texture.width()} * texture.height() * 4);
    texture.getBytes(bytes.data(), texture.width() * 4,
                     gpu::Region::make2D(0, 0, texture.width(), texture.height()), 0);
    return bytes;
}

// Tightly packed rows of a frame written with padding.
std::vector<uint8_t> withoutPadding(const std::vector<uint8_t>& pixels, uint32_t width,
                                    uint32_t height, uint32_t bytesPerRow) {
    std::vector<uint8_t> packed;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels.data() + size_t{y} * bytesPerRow;
        packed.insert(packed.end(), row, row + size_t{width} * 4);
    }
    return packed;
}

TEST(FrameIngestion, FirstAndSecondFrameSetTheStateAndTheRate) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    std::vector<std::string> seenDuringSignal;
    h.receiver->objectWillChange.connect([&] {
        seenDuringSignal.push_back(std::to_string(h.receiver->lastFrameNumber()) + "/" +
                                   (h.receiver->isReceiving() ? "1" : "0"));
    });

    h.fakes.clock->time = 100.0;
    const auto first = h.writeFrame(1, 6, 4);
    h.receiver->checkForNewFrame();
    ASSERT_TRUE(h.receiver->currentTexture());
    EXPECT_EQ(textureBytes(*h.receiver->currentTexture()), first);
    EXPECT_EQ(h.receiver->lastFrameNumber(), 1);
    EXPECT_TRUE(h.receiver->isReceiving());
    EXPECT_EQ(h.receiver->fps(), 0.0);
    EXPECT_TRUE(h.receiver->frameTimeHistory().empty());
    EXPECT_EQ(h.receiver->lastFrameTime(), 100.0);
    // Each signal comes before its assignment: observers still see the old values.
    EXPECT_EQ(seenDuringSignal, (Lines{"0/0", "0/0", "1/0"}));

    h.fakes.clock->time = 100.25;
    h.writeFrame(2, 6, 4);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.receiver->fps(), 4.0);
    EXPECT_EQ(h.willChangeCount, 3 + 4);
    EXPECT_EQ(h.receiver->frameTimeHistory().size(), 1u);
}

TEST(FrameIngestion, EveryFrameGetsANewTextureThatIsNeverWrittenAgain) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    const auto first = h.writeFrame(1, 16, 8);
    h.receiver->checkForNewFrame();
    const auto kept = h.receiver->currentTexture();
    for (uint32_t n = 2; n < 8; ++n) {
        std::vector<uint8_t> grey(16 * 8 * 4, static_cast<uint8_t>(n));
        h.writer->writeFrame(n, 16, 8, 64, grey.data());
        h.receiver->checkForNewFrame();
        EXPECT_NE(h.receiver->currentTexture(), kept);
        EXPECT_EQ(textureBytes(*h.receiver->currentTexture()), grey);
    }
    EXPECT_EQ(textureBytes(*kept), first);
}

TEST(FrameIngestion, RelaysEachFrameFlippedOnACommittedCommandBuffer) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    h.writeFrame(1, 10, 3);
    h.receiver->checkForNewFrame();
    ASSERT_EQ(h.publicationCount(), 1u);
    const auto& publication = *h.fakes.relay->publications->front();
    EXPECT_EQ(publication.texture, h.receiver->currentTexture());
    EXPECT_TRUE(publication.flipped);
    EXPECT_TRUE(publication.committed);
    EXPECT_EQ(publication.region.x, 0.0);
    EXPECT_EQ(publication.region.y, 0.0);
    EXPECT_EQ(publication.region.width, 10.0);
    EXPECT_EQ(publication.region.height, 3.0);

    // No command buffer: not relayed, but the window still gets the frame and its rate.
    h.device->faults().noCommandBuffer = true;
    h.fakes.clock->time += 0.5;
    h.writeFrame(2, 10, 3);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.publicationCount(), 1u);
    EXPECT_EQ(h.receiver->lastFrameNumber(), 2);
    EXPECT_EQ(h.receiver->fps(), 2.0);
}

TEST(FrameIngestion, PaddedRowsAndOddWidthsArriveExactly) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    const auto padded = h.writeFrame(1, 7, 5, 7 * 4 + 12);
    h.receiver->checkForNewFrame();
    ASSERT_TRUE(h.receiver->currentTexture());
    EXPECT_EQ(textureBytes(*h.receiver->currentTexture()), withoutPadding(padded, 7, 5, 40));
}

TEST(FrameIngestion, SlotsThatHoldNoNewFrameChangeNothing) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    // A zero-filled slot, frame number 0, zero width, zero height.
    h.receiver->checkForNewFrame();
    h.writeFrame(0, 4, 4);
    h.receiver->checkForNewFrame();
    h.writer->writeHeader({0, 4, 9, 16, 64});
    h.receiver->checkForNewFrame();
    h.writer->writeHeader({4, 0, 9, 16, 64});
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.willChangeCount, 0);
    EXPECT_EQ(h.logLines().size(), 4u);

    // Bytes 12 to 23 belong to the writer.
    h.writeFrame(3, 4, 4);
    std::memset(h.writer->slot() + 12, 0xFF, 12);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.receiver->lastFrameNumber(), 3);
    EXPECT_EQ(h.receiver->currentTexture()->width(), 4u);
}

TEST(FrameIngestion, HostThatNumbersAgainIsIgnoredUntilItPassesTheLastNumber) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    h.writeFrame(5, 4, 4);
    h.receiver->checkForNewFrame();
    const int before = h.willChangeCount;
    for (uint32_t n = 1; n <= 5; ++n) {
        h.writeFrame(n, 4, 4);
        h.receiver->checkForNewFrame();
    }
    EXPECT_EQ(h.willChangeCount, before);
    EXPECT_EQ(h.publicationCount(), 1u);
    h.writeFrame(6, 4, 4);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.receiver->lastFrameNumber(), 6);
    // Numbers compare as unsigned 32-bit values widened to 64 bits.
    h.writeFrame(0xFFFFFFFFu, 4, 4);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.receiver->lastFrameNumber(), 4294967295);
}

TEST(FrameIngestion, DataSizeOutOfRangeIsRejectedAtEveryCheck) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    h.writer->writeHeader({4, 4, 1, 16, 0});
    h.receiver->checkForNewFrame();
    h.receiver->checkForNewFrame();
    h.writer->writeHeader({3840, 2160, 2, 15360, 33'177'601});
    h.receiver->checkForNewFrame();
    const auto lines = h.logLines();
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
              (Lines{"⚠️ Invalid data size: 0", "⚠️ Invalid data size: 0",
                     "⚠️ Invalid data size: 33177601"}));
    EXPECT_EQ(h.willChangeCount, 0);

    // The largest frame is taken.
    const auto pixels = h.writeFrame(3, 3840, 2160);
    h.receiver->checkForNewFrame();
    ASSERT_TRUE(h.receiver->currentTexture());
    EXPECT_EQ(h.receiver->lastFrameNumber(), 3);
    EXPECT_EQ(textureBytes(*h.receiver->currentTexture()), pixels);
}

TEST(FrameIngestion, HeadersWhoseRowsDoNotFitAreSkippedWithOneLinePerFrame) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    const size_t linesBefore = h.logLines().size();
    // Rows narrower than their pixels.
    h.writer->writeHeader({8, 4, 1, 16, 128});
    h.receiver->checkForNewFrame();
    h.receiver->checkForNewFrame();
    // Rows that run past the data size; in 32 bits (h − 1) × bytesPerRow would wrap to 0.
    h.writer->writeHeader({1, 0x10001, 2, 0x10000, 4});
    h.receiver->checkForNewFrame();
    h.writer->writeHeader({4, 4, 3, 16, 63});
    h.receiver->checkForNewFrame();
    h.receiver->checkForNewFrame();
    const auto lines = h.logLines();
    ASSERT_EQ(lines.size(), linesBefore + 3);
    for (size_t i = linesBefore; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind("⚠️ Frame #", 0), 0u) << lines[i];
    }
    EXPECT_EQ(h.willChangeCount, 0);

    // The last row needs only 4 × width bytes, not a whole bytesPerRow.
    h.writer->writeHeader({4, 4, 4, 32, 3 * 32 + 16});
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.receiver->lastFrameNumber(), 4);
}

TEST(FrameIngestion, TexturesTheDeviceCannotMakeAreNotTaken) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    h.writer->writeHeader({16385, 1, 1, 16385 * 4, 16385 * 4});
    h.receiver->checkForNewFrame();
    h.device->faults().noTexture = true;
    h.writeFrame(2, 4, 4);
    h.receiver->checkForNewFrame();
    h.receiver->checkForNewFrame();
    const auto lines = h.logLines();
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()), Lines(3, "⚠️ Failed to create texture"));
    EXPECT_EQ(h.willChangeCount, 0);
    h.device->faults().noTexture = false;
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.receiver->lastFrameNumber(), 2);
}

TEST(FrameIngestion, FileShorterThanItsHeaderAnnouncesIsNeverReadPast) {
    ReceiverHarness h({.createLockFile = true, .fileLength = 32 + 64});
    ASSERT_TRUE(h.makeReceiver());
    const size_t linesBefore = h.logLines().size();
    // The header claims 16 rows; the file holds 4.
    h.writer->writeHeader({4, 16, 1, 16, 256});
    h.receiver->checkForNewFrame();
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.logLines().size(), linesBefore + 1);
    EXPECT_EQ(h.receiver->lastFrameNumber(), 0);
    // A frame that fits is taken.
    h.writeFrame(2, 4, 4);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.receiver->lastFrameNumber(), 2);

    // A file cut below its header reports once and resumes when the host writes again.
    ASSERT_TRUE(h.writer->truncate(10));
    h.receiver->checkForNewFrame();
    h.receiver->checkForNewFrame();
    ASSERT_TRUE(h.writer->truncate(SharedFrameHeader::mappingLength));
    h.writeFrame(3, 4, 4);
    h.receiver->checkForNewFrame();
    EXPECT_EQ(h.receiver->lastFrameNumber(), 3);
    const auto lines = h.logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& l) { return l.find("too few") != std::string::npos; }),
              1);
}

TEST(FrameRate, AveragesTheLastThirtyIntervals) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    double time = 50.0;
    std::vector<double> intervals;
    for (uint32_t n = 1; n <= 40; ++n) {
        const double interval = 0.01 + 0.001 * n;
        time += interval;
        if (n > 1) intervals.push_back(interval);
        h.fakes.clock->time = time;
        h.writeFrame(n, 2, 2);
        h.receiver->checkForNewFrame();
    }
    ASSERT_EQ(h.receiver->frameTimeHistory().size(), 30u);
    double sum = 0.0;
    for (size_t i = intervals.size() - 30; i < intervals.size(); ++i) sum += intervals[i];
    EXPECT_NEAR(h.receiver->fps(), 30.0 / sum, 1e-9);
    EXPECT_NEAR(h.receiver->frameTimeHistory().front(), intervals[intervals.size() - 30], 1e-9);
}

TEST(FrameRate, ProgressLineAtMultiplesOfSixtyWithAFullStopInAnyLocale) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "needs the de_DE.UTF-8 locale";
    const size_t linesBefore = h.logLines().size();
    double time = 10.0;
    for (uint32_t n : {59u, 60u, 61u, 119u, 120u}) {
        time += 1.0 / 59.94;
        h.fakes.clock->time = time;
        h.writeFrame(n, 64, 36);
        h.receiver->checkForNewFrame();
    }
    std::setlocale(LC_ALL, saved.c_str());
    const auto lines = h.logLines();
    EXPECT_EQ(Lines(lines.begin() + linesBefore, lines.end()),
              (Lines{"✅ Received frame #60 (64x36) - 59.9 fps",
                     "✅ Received frame #120 (64x36) - 59.9 fps"}));
}

TEST(LockProtocol, AWriterHoldingItsLockKeepsTheCheckWaitingAndTheFrameWhole) {
    ReceiverHarness h;
    ASSERT_TRUE(h.makeReceiver());
    const uint32_t width = 256, height = 256;
    auto pixels = TestPattern::quadrants(width, height, width * 4);
    h.writer->lockExclusive();
    // Half a frame under the lock, header already new.
    std::memcpy(h.writer->slot() + 32, pixels.data(), pixels.size() / 2);
    SharedFrameHeader{width, height, 1, width * 4, width * height * 4}.store(h.writer->slot());

    // The main thread is the only one touching the receiver while the check runs elsewhere.
    auto check = std::async(std::launch::async, [&] { h.receiver->checkForNewFrame(); });
    EXPECT_EQ(check.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    std::memcpy(h.writer->slot() + 32 + pixels.size() / 2, pixels.data() + pixels.size() / 2,
                pixels.size() / 2);
    h.writer->unlock();
    check.get();
    ASSERT_TRUE(h.receiver->currentTexture());
    EXPECT_EQ(textureBytes(*h.receiver->currentTexture()), pixels);
}

}  // namespace
