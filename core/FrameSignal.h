#pragma once

#include <functional>
#include <string>

// The host's system-wide new-frame notification. Callbacks run on the main thread.
class FrameSignal {
  public:
    virtual ~FrameSignal() = default;
    // Registers `callback` for notifications called `name` from any sender, filed under
    // `subscriber`. False, with the reason in `failure`, when no registration can be made.
    virtual bool subscribe(const void* subscriber, const std::string& name,
                           std::function<void()> callback, std::string& failure) = 0;
    // Removes every registration filed under `subscriber`.
    virtual void unsubscribe(const void* subscriber) = 0;
};
