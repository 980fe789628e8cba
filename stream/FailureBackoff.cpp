#include "stream/FailureBackoff.h"

#include <algorithm>

bool FailureBackoff::fail(const std::string& failure, TimePoint now) {
    const bool news = failure != lastFailure_;
    lastFailure_ = failure;
    waiting_ = true;
    restartAt_ = now + delay_;
    delay_ = std::min(delay_ * 2, maxDelay_);
    return news;
}

void FailureBackoff::succeed() {
    lastFailure_.clear();
    delay_ = std::chrono::seconds(1);
}

bool FailureBackoff::restartDue(TimePoint now) {
    if (!waiting_ || now < restartAt_) return false;
    waiting_ = false;
    return true;
}
