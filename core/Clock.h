#pragma once

// The monotonic clock of the frame-rate estimate, in seconds.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual double now() = 0;
};
