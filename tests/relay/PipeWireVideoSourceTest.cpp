#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

#include "gpu/CommandBuffer.h"
#include "platform/QtRunLoop.h"
#include "receiver/TextureReceiver.h"
#include "relay/PipeWireRelayFactory.h"
#include "tests/relay/PipeWireTestConsumer.h"
#include "tests/relay/RelayTestSupport.h"
#include "tests/support/Fakes.h"
#include "tests/support/OpenDescriptors.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

using namespace relaytest;

namespace {

class RelayTest : public ::testing::Test {
  protected:
    // A receiver whose relay is a PipeWire video source; it logs to `fakes`.
    static std::shared_ptr<TextureReceiver> pipeWireReceiver(const FakePlatform& fakes) {
        auto platform = fakes.platform();
        platform.relay =
            std::make_shared<PipeWireRelayFactory>(fakes.log, std::make_shared<QtRunLoop>());
        return TextureReceiver::create(gpu::Device::create(), platform);
    }

    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>(journal);
    std::shared_ptr<gpu::Device> device = gpu::Device::create();
    TempDirectory container;
    FakePlatform fakes{container.path()};
};

// A relay server against the PipeWire daemon and WirePlumber of the test run.
class PipeWireVideoSourceTest : public RelayTest {
  protected:
    void SetUp() override {
        auto made =
            PipeWireRelayFactory(log, std::make_shared<QtRunLoop>()).createSource(serverName);
        ASSERT_TRUE(made.source && made.failure.empty()) << made.failure;
        source = std::move(made.source);
        ASSERT_TRUE(spinUntil([] { return nodesNamed(serverName) == 1; }));
    }

    // A consumer of the tests' own, holding a frame of `texture` from `source`.
    std::unique_ptr<PipeWireTestConsumer> streamingConsumer(
        const std::shared_ptr<gpu::Texture>& texture) {
        std::string failure;
        auto consumer = PipeWireTestConsumer::connect(serverName, {}, failure);
        EXPECT_TRUE(consumer) << failure;
        EXPECT_TRUE(consumer && spinUntil([&] {
                        publishWhole(*source, texture);
                        spinFor(10ms);
                        return consumer->frameCount() > 0 && source->isStreaming();
                    }));
        return consumer;
    }

    std::unique_ptr<PipeWireVideoSource> source;
};

struct GstCase {
    const char* name;
    PixelRegion region;  // of a 637 x 481 texture: rows of 2548 bytes, a width not a multiple of 4
    bool flipped;
};

class GstClientTest : public PipeWireVideoSourceTest,
                      public ::testing::WithParamInterface<GstCase> {};

class WithdrawalTest : public PipeWireVideoSourceTest,
                       public ::testing::WithParamInterface<bool> {};

}  // namespace

// Exact size, colours and row order reach a real client; nothing is copied while no one streams.
TEST_P(GstClientTest, ReceivesExactlyThePublishedRegion) {
    const GstCase& c = GetParam();
    const auto texture = patternTexture(*device, 637, 481);
    EXPECT_TRUE(nothingCopiedWhilePublishing(*source, texture)) << "copied before any consumer";
    EXPECT_EQ(gstMismatch(*source, texture, c.region, c.flipped), "");
    ASSERT_TRUE(spinUntil([&] { return !source->isStreaming(); }));
    EXPECT_TRUE(nothingCopiedWhilePublishing(*source, texture)) << "copied after the client left";
    EXPECT_EQ(journal->logLines(), std::vector<std::string>{}) << "a healthy server is quiet";
}

INSTANTIATE_TEST_SUITE_P(
    Frames, GstClientTest,
    ::testing::Values(GstCase{"Whole", {0, 0, 637, 481}, true},
                      GstCase{"Unflipped", {0, 0, 637, 481}, false},
                      GstCase{"RegionAcrossQuadrants", {250, 200, 201, 151}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A size change mid-stream reaches a streaming consumer of the tests' own and a fresh gst client;
// then loop, connection, stream and every buffer's memfd leave with the server.
TEST_F(PipeWireVideoSourceTest, SizeChangeReachesConsumersAndEveryDescriptorLeavesWithTheServer) {
    const auto large = patternTexture(*device, 320, 240);
    const auto small = patternTexture(*device, 201, 113);
    auto streamBothSizes = [&] {
        source = PipeWireRelayFactory(log, std::make_shared<QtRunLoop>())
                     .createSource(serverName)
                     .source;
        ASSERT_TRUE(source);
        auto consumer = streamingConsumer(large);
        ASSERT_TRUE(consumer);
        for (const auto& texture : {large, small}) {
            const PixelRegion whole{0, 0, texture->width(), texture->height()};
            const auto expected = expectedFrame(*texture, whole, true);
            EXPECT_TRUE(spinUntil([&] {
                publishWhole(*source, texture);
                spinFor(10ms);
                const auto last = consumer->seen().last;
                return last && last->width == whole.width && last->height == whole.height &&
                       last->pixels == expected;
            })) << "no frame "
                << whole.width << " wide";
        }
        EXPECT_TRUE(consumer->seen().last->sharedMemory) << "frames travel in MemFd buffers";
        EXPECT_EQ(consumer->seen().malformed, 0u) << "a buffer's rows missed its format";
        // Debian 12's pipewiresrc cannot follow a renegotiation, but a fresh one sees the new size.
        EXPECT_EQ(gstMismatch(*source, small, {0, 0, 201, 113}), "");
        source.reset();
        spinFor(50ms);
    };
    source.reset();
    streamBothSizes();  // whatever PipeWire opens once per process is open from here on
    const size_t before = openDescriptorCount();
    streamBothSizes();
    EXPECT_EQ(openDescriptorCount(), before);
}

// Removed by another client, the node is announced again, as a camera; a frame leaves when its
// command buffer is committed; stop() (true) or destroying the server (false) withdraws the node
// while streaming, and frames encoded before that are harmless.
TEST_P(WithdrawalTest, CameraNodeReturnsCopiesOnCommitAndLeavesWithTheServer) {
    ASSERT_TRUE(runTool("pw-cli", {"destroy", QString::fromStdString(serverName)}));
    ASSERT_TRUE(spinUntil([&] { return !journal->logLines().empty(); }));
    ASSERT_TRUE(spinUntil([] { return nodesNamed(serverName) == 1; }));
    EXPECT_EQ(journal->logLines(),
              std::vector<std::string>{"❌ Syphon server 'Lumetra Vuzadivirur' stream failed: its "
                                       "node was removed (announcing it again)"});
    const auto node = runTool("pw-dump", {QString::fromStdString(serverName)}).value_or("");
    for (const std::string property :
         {R"("media.class": "Video/Source")", R"("media.type": "Video")",
          R"("media.category": "Capture")", R"("media.role": "Camera")",
          R"("node.description": "Lumetra Vuzadivirur")"}) {
        EXPECT_NE(node.find(property), std::string::npos) << property << " missing in " << node;
    }
    const auto texture = patternTexture(*device, 64, 48);
    const auto consumer = streamingConsumer(texture);
    ASSERT_TRUE(consumer);

    const uint64_t copied = source->copiedFrames();
    gpu::CommandBuffer pending;
    source->publishFrameTexture(texture, pending, gpu::Rect{0, 0, 64, 48}, true);
    EXPECT_GT(texture.use_count(), 1) << "the encoded work must hold the texture";
    spinFor(50ms);
    EXPECT_EQ(source->copiedFrames(), copied) << "copied before the commit";
    pending.commit();
    EXPECT_TRUE(spinUntil([&] { return source->copiedFrames() == copied + 1; }));
    EXPECT_TRUE(spinUntil([&] { return texture.use_count() == 1; })) << "the relay kept it";

    gpu::CommandBuffer late;  // encoded before the withdrawal, committed after it
    source->publishFrameTexture(texture, late, gpu::Rect{0, 0, 64, 48}, true);
    if (GetParam()) {
        source->stop();
        EXPECT_FALSE(source->isConnected());
        late.commit();
        EXPECT_EQ(source->copiedFrames(), copied + 1);
    } else {
        source.reset();
        late.commit();
    }
    EXPECT_EQ(texture.use_count(), 1);
    EXPECT_TRUE(spinUntil([] { return nodesNamed(serverName) == 0; }));
}

INSTANTIATE_TEST_SUITE_P(StopOrDestroy, WithdrawalTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Stopped" : "Destroyed"; });

// The whole road of a frame: the host writes rows with padding, the receiver takes the frame
// into a texture and relays it, and a real PipeWire client gets tightly packed rows.
TEST_F(RelayTest, PaddedHostFramesReachAGstClientThroughTheReceiver) {
    std::string failure;
    auto writer = SharedFrameWriter::create(container.path(), {}, failure);
    ASSERT_TRUE(writer) << failure;
    auto receiver = pipeWireReceiver(fakes);
    ASSERT_TRUE(receiver);
    const uint32_t width = 637, height = 481, bytesPerRow = width * 4 + 12;
    const auto hostRows = TestPattern::quadrants(width, height, bytesPerRow);
    uint32_t frameNumber = 0;
    const auto feed = [&] {
        writer->writeFrame(++frameNumber, width, height, bytesPerRow, hostRows.data());
        receiver->checkForNewFrame();
    };
    EXPECT_EQ(gstMismatch(feed, TestPattern::quadrants(width, height, width * 4)), "");
    receiver.reset();
    const auto lines = fakes.journal->logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "✅ Syphon server created: 'Lumetra Vuzadivirur'");
    EXPECT_EQ(lines.back(), "🛑 Syphon server stopped");
    EXPECT_TRUE(spinUntil([] { return nodesNamed(serverName) == 0; }));
}

// The RelayDaemon tests own their daemons: they run under scripts/with-daemons.sh --no-pipewire,
// which gives them a fresh runtime directory and session bus but no PipeWire.
namespace {

// PipeWire, and WirePlumber once PipeWire answers (it links what is there when it joins); they
// end in the reverse order.
class Daemons {
  public:
    ~Daemons() { stop(false); }
    bool start() {
        pipewire_.start("pipewire", {});
        if (!spinUntil([] { return runTool("pw-cli", {"info", "0"}).has_value(); })) return false;
        wireplumber_.start("wireplumber", {});
        return wireplumber_.waitForStarted();
    }
    void stop(bool kill) {
        for (QProcess* daemon : {&wireplumber_, &pipewire_}) {
            kill ? daemon->kill() : daemon->terminate();
            daemon->waitForFinished();
        }
    }

  private:
    QProcess pipewire_;
    QProcess wireplumber_;
};

class RelayDaemonTest : public RelayTest, public ::testing::WithParamInterface<bool> {
  protected:
    std::shared_ptr<gpu::Texture> texture = patternTexture(*device, 211, 97);
    const PixelRegion whole{0, 0, 211, 97};
    const std::string connectedLine = "✅ Syphon server 'Lumetra Vuzadivirur' connected to PipeWire";
    Daemons daemons;
};

}  // namespace

// No daemon at the start: the application runs on and reports why; the daemon appears, goes
// away (by SIGTERM or, with the parameter, SIGKILL) and comes back, and the relay follows.
TEST_P(RelayDaemonTest, RelayFollowsThePipeWireDaemonComingAndGoing) {
    auto receiver = pipeWireReceiver(fakes);
    ASSERT_TRUE(receiver) << "the application runs on without PipeWire";
    receiver.reset();
    const auto lines = fakes.journal->logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(
        lines.front().starts_with("❌ Failed to create Syphon server 'Lumetra Vuzadivirur': "))
        << lines.front();
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), "✅ Syphon server created: 'Lumetra Vuzadivirur'"),
        0);
    EXPECT_EQ(lines.back(), "🛑 Syphon server stopped");

    auto made = PipeWireRelayFactory(log, std::make_shared<QtRunLoop>()).createSource(serverName);
    ASSERT_TRUE(made.source) << "the application must keep a server to relay later";
    auto& source = *made.source;
    EXPECT_NE(made.failure.find("PipeWire"), std::string::npos) << made.failure;
    EXPECT_FALSE(source.isConnected());
    EXPECT_TRUE(nothingCopiedWhilePublishing(source, texture));
    ASSERT_TRUE(daemons.start());
    ASSERT_TRUE(spinUntil([&] { return source.isConnected(); })) << "no connection";
    EXPECT_EQ(gstMismatch(source, texture, whole), "");

    daemons.stop(GetParam());
    ASSERT_TRUE(spinUntil([&] { return !source.isConnected(); }));
    EXPECT_TRUE(nothingCopiedWhilePublishing(source, texture)) << "frame intake carries on";
    spinFor(1200ms);  // more than one reconnection attempt against no daemon
    ASSERT_TRUE(daemons.start());
    ASSERT_TRUE(spinUntil([&] { return source.isConnected(); })) << "no reconnection";
    EXPECT_EQ(gstMismatch(source, texture, whole), "");
    const auto relayLines = journal->logLines();
    ASSERT_EQ(relayLines.size(), 3u) << "the caller reports the failure; one line for the loss";
    EXPECT_EQ(relayLines[0], connectedLine);
    EXPECT_TRUE(relayLines[1].starts_with("❌ Syphon server 'Lumetra Vuzadivirur' lost PipeWire: "))
        << relayLines[1];
    EXPECT_EQ(relayLines[2], connectedLine);
}

INSTANTIATE_TEST_SUITE_P(Endings, RelayDaemonTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Killed" : "Terminated"; });

// The relay runs on the Qt event loop of the main thread, as in the application.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
