#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

// The pace at which the host delivers frames, in whole frames a second: counted over spans of
// about a second. Unknown until one span has passed; a pause of over a second starts a new span.
class FrameRateMeter {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    void tick(TimePoint now);
    std::optional<uint32_t> rate() const { return rate_; }

  private:
    std::optional<TimePoint> spanStart_;
    TimePoint last_{};
    uint32_t intervals_ = 0;
    std::optional<uint32_t> rate_;
};
