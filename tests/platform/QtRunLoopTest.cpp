#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <fstream>

#include "format/Configuration.h"
#include "platform/QtRunLoop.h"
#include "tests/platform/EventLoopWait.h"
#include "tests/support/OpenDescriptors.h"

namespace {

using namespace std::chrono_literals;

TEST(QtRunLoop, NoTickAfterInvalidateOrDestructionEvenFromTheTimersOwnTick) {
    QtRunLoop loop;
    int invalidatedTicks = 0, destroyedTicks = 0, referenceTicks = 0;
    std::unique_ptr<RepeatingTimer> invalidated, destroyed;
    invalidated = loop.scheduleRepeating(1ms, [&] {
        if (++invalidatedTicks == 3) invalidated->invalidate();
    });
    destroyed = loop.scheduleRepeating(1ms, [&] { ++destroyedTicks, destroyed.reset(); });
    auto reference = loop.scheduleRepeating(1ms, [&] { ++referenceTicks; });
    ASSERT_TRUE(invalidated && destroyed && reference);
    ASSERT_TRUE(runEventLoopUntil([&] { return invalidatedTicks == 3 && !destroyed; }));
    // Twenty ticks of a timer with the same interval: the others would have ticked again.
    const int until = referenceTicks + 20;
    ASSERT_TRUE(runEventLoopUntil([&] { return referenceTicks >= until; }));
    EXPECT_EQ(invalidatedTicks, 3);
    EXPECT_EQ(destroyedTicks, 1);
}

TEST(QtRunLoop, ATimerIsOneExactMonotonicTimerfdClosedWithIt) {
    QtRunLoop loop;
    const size_t descriptors = openDescriptorCount();
    const int next = ::dup(STDIN_FILENO);  // the lowest free descriptor, which a timer takes
    ::close(next);
    for (int i = 0; i < 50; ++i) {
        auto timer = loop.scheduleRepeating(config::pollingInterval, [] {});
        ASSERT_TRUE(timer);
        EXPECT_EQ(openDescriptorCount(), descriptors + 1);
        std::ifstream info("/proc/self/fdinfo/" + std::to_string(next));
        const std::string kernelView{std::istreambuf_iterator<char>(info), {}};
        const auto has = [&](const char* text) { return kernelView.find(text) != kernelView.npos; };
        // CLOCK_MONOTONIC every 16,666,667 ns, not Qt's whole 16 ms (62.5 Hz).
        EXPECT_TRUE(has("clockid: 1\n") && has("it_interval: (0, 16666667)")) << kernelView;
        if (i % 2 == 0) timer->invalidate();
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST(QtRunLoop, JobsStillQueuedAtTheEndRunBeforeTheApplicationGoesWithoutHanging) {
    QProcess child;
    child.start(QStringLiteral(SHUTDOWN_CHILD_PATH), {});
    ASSERT_TRUE(child.waitForStarted(10'000));
    const bool finished = child.waitForFinished(20'000);
    if (!finished) child.kill();
    ASSERT_TRUE(finished) << "the program hung as its application object went";
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_EQ(child.readAllStandardOutput().toStdString(), "job ran\nreleased\n");
}

// The first signal quits the event loop; the program then hangs until a second one ends it.
TEST(QuitOnSignals, ASecondSignalEndsAQuitThatHangs) {
    QProcess child;
    child.start(QStringLiteral(SHUTDOWN_CHILD_PATH), {"--hang-after-quit"});
    QByteArray output;
    for (const auto& [signal, expected] : {std::pair{SIGTERM, "ready\n"}, {SIGINT, "quitting\n"}}) {
        while (!output.endsWith(expected) && child.waitForReadyRead(20'000))
            output += child.readAllStandardOutput();
        ASSERT_TRUE(output.endsWith(expected)) << output.toStdString();
        ::kill(static_cast<pid_t>(child.processId()), signal);
    }
    const bool finished = child.waitForFinished(20'000);
    if (!finished) child.kill();
    ASSERT_TRUE(finished) << "the second signal did not end the quit";
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);  // ended by SIGINT's default action
}

}  // namespace
