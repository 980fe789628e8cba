#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "receiver/BusErrorGuard.h"
#include "tests/receiver/ReceiverHarness.h"

namespace {

TEST(BusErrorGuard, AReadPastTheEndOfAShrunkFileEndsTheReadNotTheProcess) {
    TempDirectory dir;
    const auto path = dir.path() / "file";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 1 << 16), 0);
    auto* bytes = static_cast<const volatile uint8_t*>(
        ::mmap(nullptr, 1 << 16, PROT_READ, MAP_SHARED, fd, 0));
    ASSERT_NE(bytes, MAP_FAILED);
    int sum = 0;
    EXPECT_TRUE(BusErrorGuard::run([&] { sum += bytes[40000]; }));
    ASSERT_EQ(::ftruncate(fd, 100), 0);
    EXPECT_FALSE(BusErrorGuard::run([&] { sum += bytes[40000]; }));
    EXPECT_FALSE(BusErrorGuard::run([&] { sum += bytes[50000]; })) << "the guard works again";
    EXPECT_TRUE(BusErrorGuard::run([&] { sum += bytes[10]; }));
    ::munmap(const_cast<uint8_t*>(bytes), 1 << 16);
    ::close(fd);
}

TEST(BusErrorGuardDeathTest, ABusErrorOutsideTheGuardStillEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    BusErrorGuard::run([] {});  // the handler is installed
    // Handed on to whoever handled it before (the default action, or a sanitizer's report).
    const auto endedAbnormally = [](int status) {
        return !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    };
    EXPECT_EXIT(
        {
            ::raise(SIGBUS);
            std::exit(0);
        },
        endedAbnormally, "");
}

// Without a lock file nothing stops a host from cutting the file while a frame is copied.
TEST(SharedFileSafety, AFileThatShrinksDuringUnlockedCopiesNeverCrashesTheReceiver) {
    ReceiverHarness h({.createLockFile = false});
    ASSERT_TRUE(h.makeReceiver());
    const uint32_t width = 1024, height = 1024;

    std::atomic<bool> stop{false};
    std::thread host([&] {
        while (!stop) {
            h.writer->truncate(SharedFrameHeader::mappingLength);
            std::this_thread::sleep_for(std::chrono::microseconds(400));
            h.writer->truncate(32 + 4096);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    // Frames until one copy has been cut short (bounded, in case the timing never lines up).
    auto cutShort = [&] {
        for (const auto& line : h.logLines()) {
            if (line.find("shrank") != std::string::npos) return true;
        }
        return false;
    };
    uint32_t frame = 0;
    while (frame < 20000 && (frame % 100 != 0 || !cutShort())) {
        ++frame;
        SharedFrameHeader header{width, height, frame, width * 4, width * height * 4};
        BusErrorGuard::run([&] { header.store(h.writer->slot()); });  // the host may fault too
        h.receiver->checkForNewFrame();
    }
    stop = true;
    host.join();

    // Every frame was either taken whole or skipped with its own line; nothing else happened.
    const auto lines = h.logLines();
    for (size_t i = 4; i < lines.size(); ++i) {
        const bool known = lines[i].rfind("⚠️ Frame #", 0) == 0 ||
                           lines[i].rfind("⚠️ Shared file holds", 0) == 0 ||
                           lines[i].rfind("✅ Received frame #", 0) == 0;
        EXPECT_TRUE(known) << lines[i];
    }
    if (h.receiver->currentTexture()) {
        EXPECT_EQ(h.receiver->currentTexture()->width(), width);
    }
    std::printf("frames written %u, copies cut short seen: %s\n", frame, cutShort() ? "yes" : "no");
}

}  // namespace
