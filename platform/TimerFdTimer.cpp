#include "platform/TimerFdTimer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

#include "platform/SocketNotifierWatch.h"

namespace {

timespec toTimespec(std::chrono::nanoseconds interval) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(interval);
    return timespec{static_cast<time_t>(seconds.count()),
                    static_cast<long>((interval - seconds).count())};
}

}  // namespace

std::unique_ptr<TimerFdTimer> TimerFdTimer::create(std::chrono::nanoseconds interval,
                                                   std::function<void()> tick) {
    if (interval.count() <= 0 || !tick) return nullptr;
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) return nullptr;
    // Constructed here so that the descriptor is closed by the destructor on every way out.
    auto timer = std::make_unique<TimerFdTimer>(Token{}, fd, std::move(tick));
    const itimerspec schedule{toTimespec(interval), toTimespec(interval)};
    if (::timerfd_settime(fd, 0, &schedule, nullptr) != 0) return nullptr;
    timer->watch_ = SocketNotifierWatch::create(fd, [raw = timer.get()] { raw->fire(); });
    if (!timer->watch_) return nullptr;  // no Qt application on this thread
    return timer;
}

TimerFdTimer::TimerFdTimer(Token, int fd, std::function<void()> tick)
    : fd_(fd), tick_(std::make_shared<std::function<void()>>(std::move(tick))) {}

TimerFdTimer::~TimerFdTimer() { invalidate(); }

void TimerFdTimer::invalidate() {
    // The watch goes first, so that the descriptor it watches is never closed under it.
    watch_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TimerFdTimer::fire() {
    uint64_t expirations = 0;
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations) return;
    // Like a run-loop timer, a late loop gets one tick, not a burst of the ticks it missed.
    // The tick runs last and on its own reference: it may destroy this timer.
    const auto tick = tick_;
    (*tick)();
}
