#include "relay/FrameRateMeter.h"

#include <cmath>

void FrameRateMeter::tick(TimePoint now) {
    constexpr std::chrono::seconds span{1};
    if (!spanStart_ || now - last_ > span) {
        spanStart_ = now;
        last_ = now;
        intervals_ = 0;
        return;
    }
    last_ = now;
    ++intervals_;
    const std::chrono::duration<double> elapsed = now - *spanStart_;
    if (elapsed < span) return;
    rate_ = static_cast<uint32_t>(std::lround(intervals_ / elapsed.count()));
    spanStart_ = now;
    intervals_ = 0;
}
