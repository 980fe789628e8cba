#pragma once

#include <chrono>
#include <functional>
#include <memory>

// Each handle below stops what it stands for when destroyed.
class RepeatingTimer {
  public:
    virtual ~RepeatingTimer() = default;
    // Stops the timer for good; no tick is delivered after this returns.
    virtual void invalidate() = 0;
};

class DescriptorWatch {
  public:
    virtual ~DescriptorWatch() = default;
};

// The main thread's run loop: jobs posted to it run later, one at a time, in posting order.
class RunLoop {
  public:
    virtual ~RunLoop() = default;
    virtual void post(std::function<void()> job) = 0;
    // Calls `tick` on the main thread every `interval` until the timer is invalidated or
    // destroyed; none when no timer can be made.
    virtual std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::nanoseconds interval,
                                                              std::function<void()> tick) = 0;
    // Calls `readable` on the main thread whenever `fd` has data to read, until the watch is
    // destroyed; none when the descriptor cannot be watched. The descriptor must outlive the watch.
    virtual std::unique_ptr<DescriptorWatch> watchReadable(int fd,
                                                           std::function<void()> readable) = 0;
};
