#include <gtest/gtest.h>
#include <unistd.h>

#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "platform/QtRunLoop.h"
#include "receiver/Configuration.h"
#include "tests/platform/EventLoopWait.h"

namespace {

using namespace std::chrono_literals;

size_t openDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// The kernel's view of this process's timerfds: "clockid" and "it_interval" lines of each.
std::vector<std::string> timerFdSettings() {
    std::vector<std::string> settings;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (error || target.string() != "anon_inode:[timerfd]") continue;
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        std::string line, described;
        while (std::getline(info, line)) {
            if (line.rfind("clockid:", 0) == 0 || line.rfind("it_interval:", 0) == 0) {
                described += line + ";";
            }
        }
        settings.push_back(described);
    }
    return settings;
}

TEST(QtRunLoop, PostedJobsAllRunOnceInPostingOrder) {
    QtRunLoop loop;
    std::vector<int> ran;
    constexpr int jobs = 10'000;
    for (int i = 0; i < jobs; ++i) loop.post([&ran, i] { ran.push_back(i); });
    ASSERT_TRUE(runPostedJobs());
    std::vector<int> expected(jobs);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(ran, expected);
    // Nothing runs twice.
    ASSERT_TRUE(runPostedJobs());
    EXPECT_EQ(ran.size(), size_t{jobs});
}

TEST(QtRunLoop, AJobPostedByAJobRunsAfterThoseAlreadyWaiting) {
    QtRunLoop loop;
    std::vector<std::string> ran;
    loop.post([&] {
        ran.push_back("a");
        loop.post([&] { ran.push_back("c"); });
    });
    loop.post([&] { ran.push_back("b"); });
    // Posting only queues: nothing has run yet.
    EXPECT_TRUE(ran.empty());
    ASSERT_TRUE(runEventLoopUntil([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(QtRunLoop, AJobHoldsWhatItCapturedUntilItHasRun) {
    QtRunLoop loop;
    auto held = std::make_shared<int>(7);
    std::weak_ptr<int> watch = held;
    loop.post([held = std::move(held)] { EXPECT_EQ(*held, 7); });
    EXPECT_FALSE(watch.expired());
    ASSERT_TRUE(runPostedJobs());
    EXPECT_TRUE(watch.expired());
}

TEST(QtRunLoop, TheTimerUsesTheExactIntervalOnTheMonotonicClock) {
    const auto before = timerFdSettings();
    QtRunLoop loop;
    auto timer = loop.scheduleRepeating(config::pollingInterval, [] {});
    ASSERT_TRUE(timer);
    auto after = timerFdSettings();
    for (const auto& old : before) std::erase(after, old);
    // 16,666,667 ns, not Qt's whole 16 ms; clock id 1 is CLOCK_MONOTONIC.
    EXPECT_EQ(after, (std::vector<std::string>{"clockid: 1;it_interval: (0, 16666667);"}));
}

TEST(QtRunLoop, NoTimerForAnIntervalThatIsNotPositive) {
    QtRunLoop loop;
    EXPECT_EQ(loop.scheduleRepeating(0ns, [] {}), nullptr);
    EXPECT_EQ(loop.scheduleRepeating(-5ns, [] {}), nullptr);
}

TEST(QtRunLoop, NoTickAfterInvalidate) {
    QtRunLoop loop;
    int ticks = 0;
    std::unique_ptr<RepeatingTimer> timer;
    timer = loop.scheduleRepeating(1ms, [&] {
        if (++ticks == 3) timer->invalidate();
    });
    ASSERT_TRUE(timer);
    int referenceTicks = 0;
    auto reference = loop.scheduleRepeating(1ms, [&] { ++referenceTicks; });
    ASSERT_TRUE(runEventLoopUntil([&] { return ticks == 3; }));
    // Twenty ticks of a second timer with the same interval: the first would have ticked again.
    const int until = referenceTicks + 20;
    ASSERT_TRUE(runEventLoopUntil([&] { return referenceTicks >= until; }));
    EXPECT_EQ(ticks, 3);
}

TEST(QtRunLoop, NoTickAfterTheTimerIsDestroyedEvenFromItsOwnTick) {
    QtRunLoop loop;
    int ticks = 0;
    std::unique_ptr<RepeatingTimer> timer;
    timer = loop.scheduleRepeating(1ms, [&] {
        ++ticks;
        timer.reset();  // the timer goes while its tick runs
    });
    int referenceTicks = 0;
    auto reference = loop.scheduleRepeating(1ms, [&] { ++referenceTicks; });
    ASSERT_TRUE(runEventLoopUntil([&] { return ticks == 1; }));
    EXPECT_EQ(timer, nullptr);
    const int until = referenceTicks + 20;
    ASSERT_TRUE(runEventLoopUntil([&] { return referenceTicks >= until; }));
    EXPECT_EQ(ticks, 1);
}

TEST(QtRunLoop, TheTimerTicksInsideANestedEventLoop) {
    // A modal dialog or a tracked menu runs an event loop of its own on the main thread.
    QtRunLoop loop;
    bool nested = false;
    int ticksWhileNested = 0;
    QEventLoop modal;
    auto timer = loop.scheduleRepeating(config::pollingInterval, [&] {
        if (nested && ++ticksWhileNested == 5) modal.quit();
    });
    ASSERT_TRUE(timer);
    bool finished = false;
    loop.post([&] {
        nested = true;
        QTimer::singleShot(30s, &modal, [&modal] { modal.exit(1); });  // only if ticks stop
        EXPECT_EQ(modal.exec(), 0);
        nested = false;
        finished = true;
    });
    ASSERT_TRUE(runEventLoopUntil([&] { return finished; }, 60s));
    EXPECT_EQ(ticksWhileNested, 5);
}

TEST(QtRunLoop, TimersCloseTheirDescriptors) {
    QtRunLoop loop;
    const size_t before = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        auto timer = loop.scheduleRepeating(config::pollingInterval, [] {});
        ASSERT_TRUE(timer);
        EXPECT_EQ(openDescriptors(), before + 1);
        if (i % 2 == 0) timer->invalidate();
    }
    EXPECT_EQ(openDescriptors(), before);
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

}  // namespace
