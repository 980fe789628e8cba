#pragma once

#include <functional>
#include <string>

// The host's system-wide new-frame notification. Callbacks run on the main thread.
class NotificationCenter {
  public:
    virtual ~NotificationCenter() = default;
    // Registers `callback` for notifications called `name` from any sender, filed under
    // `observer`. False, with the reason in `failure`, when no registration can be made.
    virtual bool addObserver(const void* observer, const std::string& name,
                             std::function<void()> callback, std::string& failure) = 0;
    // Removes every registration filed under `observer`.
    virtual void removeObserver(const void* observer) = 0;
};
