#pragma once

#include <functional>
#include <memory>

#include "core/RunLoop.h"

class QSocketNotifier;

// Watches a descriptor for reading on the main thread's Qt event loop. Socket notifiers are served
// by every event loop of the thread, so the callback also runs while a modal dialog or a menu runs
// its own loop.
class SocketNotifierWatch : public DescriptorWatch {
    struct Token {};

  public:
    // None when no Qt application exists or this is not its thread.
    static std::unique_ptr<SocketNotifierWatch> create(int fd, std::function<void()> readable);
    SocketNotifierWatch(Token, int fd, std::function<void()> readable);
    ~SocketNotifierWatch() override;
    SocketNotifierWatch(const SocketNotifierWatch&) = delete;
    SocketNotifierWatch& operator=(const SocketNotifierWatch&) = delete;

  private:
    // Shared so that a callback that destroys its own watch keeps running on a live function.
    std::shared_ptr<std::function<void()>> readable_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
