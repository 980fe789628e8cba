#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/QtRunLoop.h"

// The real QtRunLoop with a window on it: counts posted jobs, runs a hook after each timer tick,
// and can hand out timers that never fire, so that frames can arrive only through notifications.
class ObservedRunLoop : public RunLoop {
  public:
    void post(std::function<void()> job) override;
    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::nanoseconds interval,
                                                      std::function<void()> tick) override;

    bool silentTimers = false;
    // Runs after each tick of a real timer, once the tick has posted its job.
    std::function<void()> afterTick;
    size_t posted = 0;
    size_t ticks = 0;
    std::vector<std::chrono::nanoseconds> scheduledIntervals;

  private:
    QtRunLoop loop_;
};
