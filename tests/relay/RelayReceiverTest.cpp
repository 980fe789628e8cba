#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "gpu/Device.h"
#include "receiver/Configuration.h"
#include "receiver/TextureReceiver.h"
#include "relay/PipeWireRelayFactory.h"
#include "tests/relay/GstFrameClient.h"
#include "tests/relay/RelayTestSupport.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

using namespace relaytest;

namespace {

const std::string serverName(config::syphonServerName);

bool logged(const Journal& journal, const std::string& line) {
    const auto lines = journal.logLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

// The whole road of a frame: the host writes rows with padding, the receiver takes the frame
// into a texture and relays it, and a real PipeWire client gets tightly packed rows.
TEST(RelayThroughReceiver, PaddedHostFramesReachAGstClientTightlyPacked) {
    TempDirectory container;
    std::string failure;
    auto writer = SharedFrameWriter::create(container.path(), {}, failure);
    ASSERT_TRUE(writer) << failure;

    FakePlatform fakes(container.path());
    auto platform = fakes.platform();
    platform.relay = std::make_shared<PipeWireRelayFactory>(fakes.log);
    auto receiver = TextureReceiver::create(gpu::Device::create(), platform);
    ASSERT_TRUE(receiver);
    EXPECT_TRUE(logged(*fakes.journal, "✅ Syphon server created: 'Lumetra Vuzadivirur'"));

    const uint32_t width = 637;
    const uint32_t height = 481;
    const uint32_t bytesPerRow = width * 4 + 12;
    const auto hostRows = TestPattern::quadrants(width, height, bytesPerRow);
    uint32_t frameNumber = 0;

    GstFrameClient client(serverName, 3, container.path() / "frames.bgra");
    ASSERT_TRUE(client.start());
    ASSERT_TRUE(spinUntil([&] {
        if (!client.isRunning()) return true;
        writer->writeFrame(++frameNumber, width, height, bytesPerRow, hostRows.data());
        receiver->checkForNewFrame();
        spinFor(10ms);
        return false;
    })) << client.transcript();
    EXPECT_EQ(receiver->lastFrameNumber(), int64_t{frameNumber});

    ASSERT_TRUE(client.succeeded()) << client.transcript();
    const auto size = client.negotiatedSize();
    ASSERT_TRUE(size) << client.transcript();
    EXPECT_EQ(size->first, width);
    EXPECT_EQ(size->second, height);
    const auto expected = TestPattern::quadrants(width, height, width * 4);
    const auto frames = client.frames(width, height);
    ASSERT_EQ(frames.size(), 3u);
    for (const auto& frame : frames) {
        ASSERT_TRUE(frame == expected) << firstDifference(frame, expected, width);
    }

    receiver.reset();
    EXPECT_TRUE(logged(*fakes.journal, "🛑 Syphon server stopped"));
    EXPECT_TRUE(spinUntil([] { return nodesNamed(serverName).empty(); }));
}
