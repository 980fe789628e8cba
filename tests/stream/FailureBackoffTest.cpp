// The restarts after failures: the waits double from 1 s up to 10 s and start over after a
// success; a failure is news only when it differs from the last since a success.
#include <gtest/gtest.h>

#include "stream/FailureBackoff.h"

using namespace std::chrono_literals;

TEST(FailureBackoff, WaitsDoubleToTenSecondsAndOnlyANewKindIsNews) {
    struct Step {
        const char* failure;  // nullptr: a success
        bool news;
        std::chrono::seconds wait;
    };
    const Step steps[] = {{"bind", true, 1s},   {"bind", false, 2s},  {"refused", true, 4s},
                          {"bind", true, 8s},   {"bind", false, 10s}, {"bind", false, 10s},
                          {nullptr, false, 0s}, {"bind", true, 1s},   {"bind", false, 2s}};
    FailureBackoff backoff;
    FailureBackoff::TimePoint now{};
    for (const Step& step : steps) {
        if (!step.failure) {
            backoff.succeed();
            continue;
        }
        EXPECT_EQ(backoff.fail(step.failure, now), step.news) << step.failure;
        EXPECT_TRUE(backoff.waiting());
        EXPECT_FALSE(backoff.restartDue(now + step.wait - 1ms)) << step.wait.count();
        EXPECT_TRUE(backoff.restartDue(now + step.wait)) << step.wait.count();
        EXPECT_FALSE(backoff.waiting());
        EXPECT_FALSE(backoff.restartDue(now + step.wait + 1h));  // once only
        now += step.wait + 1h;
    }
}
