#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/RunLoop.h"

struct pw_loop;

// A PipeWire loop that runs on the main thread inside the main run loop: the loop is entered
// once, its file descriptor is watched, and it is iterated without blocking whenever it has work.
class PipeWireLoop {
    struct Token {};

  public:
    // None, with the reason in `failure`, when the loop cannot be made.
    static std::unique_ptr<PipeWireLoop> create(RunLoop& runLoop, std::string& failure);
    PipeWireLoop(Token, pw_loop* loop);
    ~PipeWireLoop();
    PipeWireLoop(const PipeWireLoop&) = delete;
    PipeWireLoop& operator=(const PipeWireLoop&) = delete;

    pw_loop* get() const { return loop_; }
    // Dispatches whatever is ready, without waiting, then runs the after-dispatch work.
    void iterate();
    // Work that must not run inside PipeWire's callbacks but right after them.
    void setAfterDispatch(std::function<void()> work) { afterDispatch_ = std::move(work); }

  private:
    pw_loop* loop_;
    std::unique_ptr<DescriptorWatch> watch_;
    std::function<void()> afterDispatch_;
};
