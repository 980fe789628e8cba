#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "gpu/CommandBuffer.h"
#include "gpu/Device.h"
#include "receiver/Configuration.h"
#include "relay/PipeWireRelayFactory.h"
#include "tests/relay/GstFrameClient.h"
#include "tests/relay/PipeWireTestConsumer.h"
#include "tests/relay/RelayTestSupport.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDirectory.h"

using namespace relaytest;

namespace {

const std::string serverName(config::syphonServerName);

// A relay server against the PipeWire daemon and WirePlumber of the test run.
class PipeWireVideoSourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto made = PipeWireRelayFactory(log).createSource(serverName);
        ASSERT_TRUE(made.source);
        ASSERT_EQ(made.failure, "");
        source = std::move(made.source);
        ASSERT_TRUE(source->isConnected());
        ASSERT_TRUE(spinUntil([] { return !nodesNamed(serverName).empty(); }))
            << "the node never appeared";
    }

    // Runs a gst-launch client for `frames` frames while publishing `region` of `texture`
    // about every 10 ms, until the client ends.
    std::unique_ptr<GstFrameClient> receiveWithGst(const std::shared_ptr<gpu::Texture>& texture,
                                                   const PixelRegion& region, bool flipped,
                                                   int frames = 3) {
        auto client =
            std::make_unique<GstFrameClient>(serverName, frames, directory.path() / "frames.bgra");
        EXPECT_TRUE(client->start());
        const bool ended = spinUntil([&] {
            if (!client->isRunning()) return true;
            publish(*source, texture, region, flipped);
            spinFor(10ms);
            return false;
        });
        EXPECT_TRUE(ended) << client->transcript();
        return client;
    }

    // Checks that a client received `frames` frames, each exactly `region` of `texture`.
    void expectFrames(const GstFrameClient& client, const gpu::Texture& texture,
                      const PixelRegion& region, bool flipped, size_t frames = 3) {
        ASSERT_TRUE(client.succeeded()) << client.transcript();
        const auto size = client.negotiatedSize();
        ASSERT_TRUE(size) << client.transcript();
        EXPECT_EQ(size->first, region.width);
        EXPECT_EQ(size->second, region.height);
        const auto expected = expectedFrame(texture, region, flipped);
        const auto received = client.frames(region.width, region.height);
        ASSERT_EQ(received.size(), frames);
        for (size_t i = 0; i < received.size(); ++i) {
            ASSERT_TRUE(received[i] == expected)
                << "frame " << i << ": " << firstDifference(received[i], expected, region.width);
        }
    }

    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>(journal);
    std::shared_ptr<gpu::Device> device = gpu::Device::create();
    TempDirectory directory;
    std::unique_ptr<PipeWireVideoSource> source;
};

PipeWireTestConsumer::Options keepingPixels() { return PipeWireTestConsumer::Options{}; }

}  // namespace

TEST_F(PipeWireVideoSourceTest, NodeAnnouncesItselfAsACameraSource) {
    const auto nodes = nodesNamed(serverName);
    ASSERT_EQ(nodes.size(), 1u);
    const auto& properties = nodes.front();
    EXPECT_EQ(properties.at("media.class"), "Video/Source");
    EXPECT_EQ(properties.at("media.type"), "Video");
    EXPECT_EQ(properties.at("media.category"), "Capture");
    EXPECT_EQ(properties.at("media.role"), "Camera");
    EXPECT_EQ(properties.at("node.description"), serverName);
    EXPECT_TRUE(journal->logLines().empty()) << "a healthy server has nothing to say";
}

TEST_F(PipeWireVideoSourceTest, GstClientReceivesFramesOfTheirOwnSizeAndColours) {
    // 637 pixels: rows of 2548 bytes, a width that is not a multiple of 4.
    const auto texture = patternTexture(*device, 637, 481);
    const PixelRegion whole{0, 0, 637, 481};
    const auto client = receiveWithGst(texture, whole, true);
    expectFrames(*client, *texture, whole, true);
    EXPECT_GE(source->copiedFrames(), 3u);
}

TEST_F(PipeWireVideoSourceTest, UnflippedFramesArriveWithTheirRowsReversed) {
    const auto texture = patternTexture(*device, 320, 240);
    const PixelRegion whole{0, 0, 320, 240};
    ASSERT_NE(expectedFrame(*texture, whole, false), expectedFrame(*texture, whole, true));
    const auto client = receiveWithGst(texture, whole, false);
    expectFrames(*client, *texture, whole, false);
}

TEST_F(PipeWireVideoSourceTest, ImageRegionSelectsPartOfTheTexture) {
    const auto texture = patternTexture(*device, 400, 300);
    const PixelRegion part{50, 40, 201, 151};  // straddles all four quadrants
    const auto client = receiveWithGst(texture, part, true);
    expectFrames(*client, *texture, part, true);
}

TEST_F(PipeWireVideoSourceTest, SizeChangeReachesAStreamingConsumerAndFreshClients) {
    std::string failure;
    const auto consumer = PipeWireTestConsumer::connect(serverName, keepingPixels(), failure);
    ASSERT_TRUE(consumer) << failure;

    const auto large = patternTexture(*device, 320, 240);
    const auto small = patternTexture(*device, 201, 113);
    const PixelRegion largeWhole{0, 0, 320, 240};
    const PixelRegion smallWhole{0, 0, 201, 113};
    const auto largeExpected = expectedFrame(*large, largeWhole, true);
    const auto smallExpected = expectedFrame(*small, smallWhole, true);

    auto lastFrameIs = [&](const std::vector<uint8_t>& expected, uint32_t width, uint32_t height) {
        const auto frame = consumer->lastFrame();
        return frame && frame->width == width && frame->height == height &&
               frame->pixels == expected;
    };
    ASSERT_TRUE(spinUntil([&] {
        publishWhole(*source, large);
        spinFor(10ms);
        return lastFrameIs(largeExpected, 320, 240);
    })) << "the consumer never received the first size";
    const size_t formatsBefore = consumer->formatChanges();

    ASSERT_TRUE(spinUntil([&] {
        publishWhole(*source, small);
        spinFor(10ms);
        return lastFrameIs(smallExpected, 201, 113);
    })) << "the consumer never received the new size";
    EXPECT_GT(consumer->formatChanges(), formatsBefore);
    EXPECT_TRUE(consumer->lastFrame()->sharedMemory) << "frames travel in MemFd buffers";
    EXPECT_EQ(consumer->malformedFrames(), 0u) << "a buffer's stride or size missed its format";

    // Debian 12's pipewiresrc cannot follow a renegotiation, but a new one sees the new size.
    const auto client = receiveWithGst(small, smallWhole, true);
    expectFrames(*client, *small, smallWhole, true);
}

TEST_F(PipeWireVideoSourceTest, NothingIsCopiedWithoutAStreamingConsumer) {
    const auto texture = patternTexture(*device, 160, 120);
    for (int i = 0; i < 30; ++i) {
        publishWhole(*source, texture);
        spinFor(5ms);
    }
    EXPECT_EQ(source->copiedFrames(), 0u);
    EXPECT_FALSE(source->isStreaming());

    std::string failure;
    auto consumer = PipeWireTestConsumer::connect(serverName, keepingPixels(), failure);
    ASSERT_TRUE(consumer) << failure;
    ASSERT_TRUE(spinUntil([&] {
        publishWhole(*source, texture);
        spinFor(10ms);
        return consumer->frameCount() >= 5;
    }));
    EXPECT_GE(source->copiedFrames(), 5u);

    consumer.reset();
    ASSERT_TRUE(spinUntil([&] { return !source->isStreaming(); }));
    const uint64_t copied = source->copiedFrames();
    for (int i = 0; i < 30; ++i) {
        publishWhole(*source, texture);
        spinFor(5ms);
    }
    EXPECT_EQ(source->copiedFrames(), copied) << "frames were copied after the consumer left";
}

TEST_F(PipeWireVideoSourceTest, FrameLeavesWhenItsCommandBufferIsCommitted) {
    std::string failure;
    const auto consumer = PipeWireTestConsumer::connect(serverName, keepingPixels(), failure);
    ASSERT_TRUE(consumer) << failure;
    const auto texture = patternTexture(*device, 64, 48);
    ASSERT_TRUE(spinUntil([&] {
        publishWhole(*source, texture);
        spinFor(10ms);
        return consumer->frameCount() >= 1;
    }));
    ASSERT_TRUE(spinUntil([&] { return source->isStreaming(); }));

    const uint64_t copied = source->copiedFrames();
    const auto frame = patternTexture(*device, 64, 48);
    gpu::CommandBuffer commandBuffer;
    source->publishFrameTexture(frame, commandBuffer, gpu::Rect{0, 0, 64, 48}, true);
    EXPECT_GT(frame.use_count(), 1) << "the encoded work must hold the texture";
    spinFor(50ms);
    EXPECT_EQ(source->copiedFrames(), copied) << "copied before the commit";
    commandBuffer.commit();
    EXPECT_TRUE(spinUntil([&] { return source->copiedFrames() == copied + 1; }));
    EXPECT_TRUE(spinUntil([&] { return frame.use_count() == 1; }))
        << "the relay kept the texture after copying it";
}

TEST_F(PipeWireVideoSourceTest, StopWithdrawsTheNodeAndLaterFramesAreHarmless) {
    const auto texture = patternTexture(*device, 64, 48);
    gpu::CommandBuffer pending;  // encoded before the stop, committed after it
    source->publishFrameTexture(texture, pending, gpu::Rect{0, 0, 64, 48}, true);

    source->stop();
    EXPECT_FALSE(source->isConnected());
    ASSERT_TRUE(spinUntil([] { return nodesNamed(serverName).empty(); }));
    pending.commit();
    publishWhole(*source, texture);
    source->stop();
    EXPECT_EQ(source->copiedFrames(), 0u);
    EXPECT_EQ(texture.use_count(), 1);
}

TEST_F(PipeWireVideoSourceTest, DestroyingTheServerWithdrawsTheNodeEvenWhileStreaming) {
    std::string failure;
    const auto consumer = PipeWireTestConsumer::connect(serverName, keepingPixels(), failure);
    ASSERT_TRUE(consumer) << failure;
    const auto texture = patternTexture(*device, 64, 48);
    ASSERT_TRUE(spinUntil([&] {
        publishWhole(*source, texture);
        spinFor(10ms);
        return consumer->frameCount() >= 1;
    }));

    gpu::CommandBuffer late;  // committed after the server is gone
    source->publishFrameTexture(texture, late, gpu::Rect{0, 0, 64, 48}, true);
    source.reset();
    late.commit();
    EXPECT_EQ(texture.use_count(), 1);
    ASSERT_TRUE(spinUntil([] { return nodesNamed(serverName).empty(); }));
}

TEST_F(PipeWireVideoSourceTest, ANodeRemovedByAnotherClientIsAnnouncedAgain) {
    ASSERT_TRUE(runTool("pw-cli", {"destroy", serverName}).ok);
    const std::string line =
        "❌ Syphon server 'Lumetra Vuzadivirur' stream failed: its node was removed "
        "(announcing it again)";
    ASSERT_TRUE(spinUntil([&] { return !journal->logLines().empty(); }));
    EXPECT_EQ(journal->logLines(), std::vector<std::string>{line});
    ASSERT_TRUE(spinUntil([] { return nodesNamed(serverName).size() == 1; }));

    const auto texture = patternTexture(*device, 150, 90);
    const PixelRegion whole{0, 0, 150, 90};
    const auto client = receiveWithGst(texture, whole, true);
    expectFrames(*client, *texture, whole, true);
    EXPECT_EQ(journal->logLines().size(), 1u);
}

namespace {

size_t openDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

}  // namespace

// Loop, connection, stream and every buffer's memfd are released with the server, after it
// streamed and renegotiated.
TEST(PipeWireVideoSourceResources, EveryDescriptorIsReleasedWithTheServer) {
    auto log = std::make_shared<RecordingLog>(std::make_shared<Journal>());
    auto device = gpu::Device::create();
    const auto large = patternTexture(*device, 320, 240);
    const auto small = patternTexture(*device, 160, 120);
    TempDirectory directory;
    auto streamBoth = [&] {
        auto made = PipeWireRelayFactory(log).createSource(serverName);
        ASSERT_TRUE(made.source);
        ASSERT_EQ(made.failure, "");
        for (const auto& texture : {large, small}) {
            GstFrameClient client(serverName, 2, directory.path() / "frames.bgra");
            ASSERT_TRUE(client.start());
            ASSERT_TRUE(spinUntil([&] {
                if (!client.isRunning()) return true;
                publishWhole(*made.source, texture);
                spinFor(10ms);
                return false;
            }));
            ASSERT_TRUE(client.succeeded()) << client.transcript();
        }
        made.source.reset();
        spinFor(50ms);
    };
    streamBoth();  // whatever PipeWire opens once per process is open from here on
    const size_t before = openDescriptors();
    streamBoth();
    EXPECT_EQ(openDescriptors(), before);
}
