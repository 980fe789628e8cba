#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "gpu/Device.h"
#include "receiver/Configuration.h"
#include "receiver/TextureReceiver.h"
#include "relay/PipeWireRelayFactory.h"
#include "tests/relay/DaemonControl.h"
#include "tests/relay/GstFrameClient.h"
#include "tests/relay/RelayTestSupport.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDirectory.h"

// These tests own their daemons: they run under scripts/with-daemons.sh --no-pipewire, which
// gives them a fresh runtime directory and session bus but no PipeWire.

using namespace relaytest;

namespace {

const std::string serverName(config::syphonServerName);
const std::string lostPrefix = "❌ Syphon server 'Lumetra Vuzadivirur' lost PipeWire: ";
const std::string connectedLine = "✅ Syphon server 'Lumetra Vuzadivirur' connected to PipeWire";
const std::string streamFailedPrefix = "❌ Syphon server 'Lumetra Vuzadivirur' stream failed: ";

size_t countLines(const Journal& journal, const std::string& prefix) {
    const auto lines = journal.logLines();
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

class RelayDaemonTest : public ::testing::Test {
  protected:
    // A gst client takes three frames, each the published picture.
    void expectClientReceivesFrames(PipeWireVideoSource& source) {
        const auto texture = patternTexture(*device, 211, 97);
        const PixelRegion whole{0, 0, 211, 97};
        GstFrameClient client(serverName, 3, directory.path() / "frames.bgra");
        ASSERT_TRUE(client.start());
        ASSERT_TRUE(spinUntil([&] {
            if (!client.isRunning()) return true;
            publish(source, texture, whole, true);
            spinFor(10ms);
            return false;
        })) << client.transcript();
        ASSERT_TRUE(client.succeeded()) << client.transcript();
        const auto expected = expectedFrame(*texture, whole, true);
        const auto frames = client.frames(211, 97);
        ASSERT_EQ(frames.size(), 3u);
        for (const auto& frame : frames) {
            ASSERT_TRUE(frame == expected) << firstDifference(frame, expected, 211);
        }
    }

    // Publishes a few frames about 10 ms apart; none may reach anyone.
    void publishForAWhile(PipeWireVideoSource& source) {
        const auto texture = patternTexture(*device, 211, 97);
        for (int i = 0; i < 20; ++i) {
            publish(source, texture, PixelRegion{0, 0, 211, 97}, true);
            spinFor(10ms);
        }
    }

    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>(journal);
    std::shared_ptr<gpu::Device> device = gpu::Device::create();
    TempDirectory directory;
    DaemonControl daemons;
};

}  // namespace

TEST_F(RelayDaemonTest, WithoutADaemonTheServerReportsWhyAndAnnouncesItselfOnceOneAppears) {
    auto made = PipeWireRelayFactory(log).createSource(serverName);
    ASSERT_TRUE(made.source) << "the application must keep a server to relay later";
    EXPECT_NE(made.failure, "");
    EXPECT_NE(made.failure.find("PipeWire"), std::string::npos) << made.failure;
    auto& source = *made.source;
    EXPECT_FALSE(source.isConnected());

    publishForAWhile(source);  // harmless
    EXPECT_EQ(source.copiedFrames(), 0u);
    EXPECT_TRUE(journal->logLines().empty()) << "the caller reports the failure, once";

    std::string failure;
    ASSERT_TRUE(daemons.start(failure)) << failure;
    ASSERT_TRUE(spinUntil([&] { return source.isConnected(); })) << "no reconnection";
    EXPECT_EQ(countLines(*journal, connectedLine), 1u);
    expectClientReceivesFrames(source);
    EXPECT_EQ(countLines(*journal, lostPrefix), 0u);
}

TEST_F(RelayDaemonTest, ReceiverLogsTheFailureInsteadOfACreatedServer) {
    TempDirectory container;
    FakePlatform fakes(container.path());
    auto platform = fakes.platform();
    platform.relay = std::make_shared<PipeWireRelayFactory>(fakes.log);
    auto receiver = TextureReceiver::create(gpu::Device::create(), platform);
    ASSERT_TRUE(receiver) << "the application runs on without PipeWire";

    const auto lines = fakes.journal->logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("❌ Failed to create Syphon server 'Lumetra Vuzadivirur': ", 0),
              0u)
        << lines.front();
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), "✅ Syphon server created: 'Lumetra Vuzadivirur'"),
        0);
    receiver.reset();
    const auto after = fakes.journal->logLines();
    EXPECT_EQ(after.back(), "🛑 Syphon server stopped");
}

class RelayDaemonRestartTest : public RelayDaemonTest,
                               public ::testing::WithParamInterface<DaemonControl::Ending> {};

TEST_P(RelayDaemonRestartTest, RelayReturnsAfterThePipeWireDaemonRestarts) {
    std::string failure;
    ASSERT_TRUE(daemons.start(failure)) << failure;
    auto made = PipeWireRelayFactory(log).createSource(serverName);
    ASSERT_TRUE(made.source);
    ASSERT_EQ(made.failure, "");
    auto& source = *made.source;
    expectClientReceivesFrames(source);

    daemons.stop(GetParam());
    ASSERT_TRUE(spinUntil([&] { return !source.isConnected(); }));
    const uint64_t copied = source.copiedFrames();
    publishForAWhile(source);  // frame intake carries on; nothing is relayed
    spinFor(1200ms);           // more than one reconnection attempt against no daemon
    EXPECT_EQ(source.copiedFrames(), copied);
    EXPECT_EQ(countLines(*journal, lostPrefix), 1u) << "one line for the loss, not one per try";

    ASSERT_TRUE(daemons.start(failure)) << failure;
    ASSERT_TRUE(spinUntil([&] { return source.isConnected(); })) << "no reconnection";
    EXPECT_EQ(countLines(*journal, connectedLine), 1u);
    expectClientReceivesFrames(source);
    EXPECT_GT(source.copiedFrames(), copied);
    EXPECT_EQ(countLines(*journal, lostPrefix), 1u);
    EXPECT_EQ(countLines(*journal, streamFailedPrefix), 0u) << "the loss is told once, as such";
    EXPECT_EQ(journal->logLines().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Endings, RelayDaemonRestartTest,
                         ::testing::Values(DaemonControl::Ending::Terminate,
                                           DaemonControl::Ending::Kill),
                         [](const auto& info) {
                             return info.param == DaemonControl::Ending::Kill ? "Killed"
                                                                              : "Terminated";
                         });
