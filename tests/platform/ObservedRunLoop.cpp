#include "tests/platform/ObservedRunLoop.h"

namespace {

class SilentTimer : public RepeatingTimer {
  public:
    void invalidate() override {}
};

}  // namespace

void ObservedRunLoop::post(std::function<void()> job) {
    ++posted;
    loop_.post(std::move(job));
}

std::unique_ptr<RepeatingTimer> ObservedRunLoop::scheduleRepeating(
    std::chrono::nanoseconds interval, std::function<void()> tick) {
    scheduledIntervals.push_back(interval);
    if (silentTimers) return std::make_unique<SilentTimer>();
    return loop_.scheduleRepeating(interval, [this, tick = std::move(tick)] {
        ++ticks;
        tick();
        // A copy: the hook may replace itself.
        if (const auto hook = afterTick) hook();
    });
}
