#include <gtest/gtest.h>

#include <thread>

#include "platform/SteadyClock.h"

namespace {

TEST(SteadyClock, SecondsThatNeverGoBackAndCoverASleep) {
    SteadyClock clock;
    const double start = clock.now();
    // The receiver reads 0.0 as "no frame yet"; the clock's readings are past it.
    EXPECT_GT(start, 0.0);
    double previous = start;
    for (int i = 0; i < 100'000; ++i) {
        const double now = clock.now();
        ASSERT_GE(now, previous);
        previous = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // A sleep lasts at least as long as asked on the monotonic clock.
    EXPECT_GE(clock.now() - start, 0.020);
}

}  // namespace
