#pragma once

#include <chrono>
#include <string>

// When a failed stream starts again, and which failures are worth a line. The waits run 1, 2, 4,
// 8, then every 10 s; one line per kind of failure, as a retry that fails alike says nothing new.
class FailureBackoff {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // A failure at `now`: the stream waits out the back-off. Whether it is another kind than the
    // last since a success, worth a line.
    bool fail(const std::string& failure, TimePoint now);
    // A client connected, or the caller reached its listener: the back-off starts over.
    void succeed();
    // Whether a failure waits for its restart.
    bool waiting() const { return waiting_; }
    // True once, at the first look at or after the wait's end; the wait is then over.
    bool restartDue(TimePoint now);

  private:
    static constexpr std::chrono::seconds maxDelay_{10};  // the longest wait
    std::string lastFailure_;                             // since the last success
    std::chrono::seconds delay_{1};                       // the next failure's wait
    TimePoint restartAt_{};
    bool waiting_ = false;
};
