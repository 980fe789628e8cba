#include <gtest/gtest.h>

#include "receiver/TextureReceiver.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

using Lines = std::vector<std::string>;

TEST(TextureReceiverLifecycle, SmokeConstructAndTakeFrame) {
    TempDirectory dir;
    std::string failure;
    auto writer = SharedFrameWriter::create(dir.path(), {}, failure);
    ASSERT_TRUE(writer) << failure;
    auto pixels = TestPattern::quadrants(4, 2, 16);
    ASSERT_TRUE(writer->writeFrame(3, 4, 2, 16, pixels.data()));

    FakePlatform fakes(dir.path());
    auto receiver = TextureReceiver::create(gpu::Device::create(), fakes.platform());
    ASSERT_TRUE(receiver);
    EXPECT_EQ(receiver->lastFrameNumber(), 3);
    receiver.reset();
    EXPECT_EQ(fakes.journal->logLines(),
              (Lines{"✅ Syphon server created: 'Lumetra Vuzadivirur'",
                     "✅ TextureReceiver initialized with shared memory",
                     "📡 Listening for frames from Lumetra...", "⏱️ Polling timer started (60Hz)",
                     "🛑 Syphon server stopped"}));
}

}  // namespace
