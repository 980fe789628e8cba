#pragma once

#include <time.h>

#include <csignal>
#include <cstdint>

// Paces frames at an exact rate: frame k is due at start + k / rate on the monotonic clock, and
// each wait sleeps until that absolute time, so waits never add up to drift.
class FramePacer {
  public:
    explicit FramePacer(double rate);
    // Sleeps until the next frame is due. False when a stop was requested meanwhile.
    bool waitForNextFrame(const volatile std::sig_atomic_t& stopRequested);

  private:
    timespec dueTime(uint64_t frame) const;

    double nanosecondsPerFrame_;
    timespec start_{};
    uint64_t frame_ = 0;
};
