#include "tools/lumetra-sim/FramePacer.h"

#include <cerrno>
#include <cmath>

namespace {

constexpr int64_t nanosecondsPerSecond = 1'000'000'000;
constexpr int64_t sliceNanoseconds = 200'000'000;

int64_t toNanoseconds(const timespec& time) {
    return int64_t{time.tv_sec} * nanosecondsPerSecond + time.tv_nsec;
}

}  // namespace

FramePacer::FramePacer(double rate) : nanosecondsPerFrame_(1e9 / rate) {
    clock_gettime(CLOCK_MONOTONIC, &start_);
}

timespec FramePacer::dueTime(uint64_t frame) const {
    const int64_t due =
        toNanoseconds(start_) + std::llround(static_cast<double>(frame) * nanosecondsPerFrame_);
    return timespec{static_cast<time_t>(due / nanosecondsPerSecond),
                    static_cast<long>(due % nanosecondsPerSecond)};
}

bool FramePacer::waitForNextFrame(const volatile std::sig_atomic_t& stopRequested) {
    ++frame_;
    timespec due = dueTime(frame_);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // More than a frame behind (the machine stalled): start a new schedule instead of writing
    // the missed frames in a burst.
    if (toNanoseconds(now) - toNanoseconds(due) > std::llround(nanosecondsPerFrame_)) {
        start_ = now;
        frame_ = 0;
        due = now;
    }
    // Slept in slices of at most 0.2 s, so that a stop signal that lands just before a sleep
    // begins is still seen soon at slow rates.
    while (!stopRequested) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (toNanoseconds(now) >= toNanoseconds(due)) break;
        timespec until = due;
        if (toNanoseconds(due) - toNanoseconds(now) > sliceNanoseconds) {
            const int64_t end = toNanoseconds(now) + sliceNanoseconds;
            until = timespec{static_cast<time_t>(end / nanosecondsPerSecond),
                             static_cast<long>(end % nanosecondsPerSecond)};
        }
        const int result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
        if (result != 0 && result != EINTR) break;
    }
    return !stopRequested;
}
