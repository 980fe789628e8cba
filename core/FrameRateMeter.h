#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

// The host's frame rate, from the times its frames came (seconds on a monotonic clock). Keeps the
// times of the last `meanIntervals` intervals, and at least of the last second.
class FrameRateMeter {
  public:
    explicit FrameRateMeter(size_t meanIntervals = 0) : meanIntervals_(meanIntervals) {}

    static double seconds(std::chrono::steady_clock::time_point time) {
        return std::chrono::duration<double>(time.time_since_epoch()).count();
    }

    void frame(double time) {
        times_.push_back(time);
        while (times_.size() > meanIntervals_ + 1 && times_[1] <= time - span) times_.pop_front();
    }
    // Forgets every frame: the next one starts the rate afresh.
    void reset() { times_.clear(); }
    std::optional<double> lastFrame() const {
        return times_.empty() ? std::nullopt : std::optional(times_.back());
    }

    // The mean over the last `meanIntervals` intervals, or over all since the first frame while
    // fewer have passed; none before a second frame.
    std::optional<double> meanRate() const {
        if (times_.size() < 2 || meanIntervals_ == 0) return std::nullopt;
        const size_t intervals = std::min(times_.size() - 1, meanIntervals_);
        return double(intervals) / (times_.back() - times_[times_.size() - 1 - intervals]);
    }

    // Whole frames a second at `now`: the intervals from the newest frame back to the first at or
    // before a second ago, over their span. None until frames have come for a second, and none a
    // second after the last: an interval of over a second is a pause, which starts over.
    std::optional<uint32_t> wholeRate(double now) const {
        if (times_.empty() || now - times_.back() > span) return std::nullopt;
        for (size_t i = times_.size() - 1; i > 0; --i) {
            if (times_[i] - times_[i - 1] > span) return std::nullopt;
            if (times_[i - 1] <= now - span) {
                const double elapsed = times_.back() - times_[i - 1];
                if (elapsed <= 0.0) return std::nullopt;
                return uint32_t(std::lround(double(times_.size() - i) / elapsed));
            }
        }
        return std::nullopt;
    }

  private:
    static constexpr double span = 1.0;
    size_t meanIntervals_;
    std::deque<double> times_;
};
