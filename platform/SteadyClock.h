#pragma once

#include "core/Clock.h"

// The system's monotonic clock (std::chrono::steady_clock), in seconds.
class SteadyClock : public Clock {
  public:
    double now() override;
};
