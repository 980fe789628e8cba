#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "core/RunLoop.h"

class SocketNotifierWatch;

// A repeating timer on the main thread's Qt event loop with a nanosecond interval: a timerfd on
// CLOCK_MONOTONIC, watched for reading. Qt's own timers round to whole milliseconds (16 ms gives
// 62.5 Hz); this keeps 1/60 s at 60 Hz, and ticks go on while a modal dialog runs its own loop.
class TimerFdTimer : public RepeatingTimer {
    struct Token {};  // construction goes through create()

  public:
    // None when the interval is not positive, no Qt application exists, or no timerfd can be
    // made. The first tick comes one interval after creation.
    static std::unique_ptr<TimerFdTimer> create(std::chrono::nanoseconds interval,
                                                std::function<void()> tick);
    TimerFdTimer(Token, int fd, std::function<void()> tick);
    ~TimerFdTimer() override;
    TimerFdTimer(const TimerFdTimer&) = delete;
    TimerFdTimer& operator=(const TimerFdTimer&) = delete;

    void invalidate() override;
    bool isValid() const { return fd_ >= 0; }

  private:
    void fire();

    int fd_;
    // Shared so that a tick that destroys its own timer keeps running on a live function.
    std::shared_ptr<std::function<void()>> tick_;
    std::unique_ptr<SocketNotifierWatch> watch_;
};
