#include "relay/PipeWireLoop.h"

#include <pipewire/pipewire.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

// The library is initialised once per process and never deinitialised: other parts of the
// process may still hold PipeWire objects when a server goes.
void initialisePipeWire() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

}  // namespace

std::unique_ptr<PipeWireLoop> PipeWireLoop::create(RunLoop& runLoop, std::string& failure) {
    initialisePipeWire();
    pw_loop* loop = pw_loop_new(nullptr);
    if (!loop) {
        failure = std::string("cannot make a PipeWire loop: ") + std::strerror(errno);
        return nullptr;
    }
    auto made = std::make_unique<PipeWireLoop>(Token{}, loop);
    made->watch_ =
        runLoop.watchReadable(pw_loop_get_fd(loop), [raw = made.get()] { raw->iterate(); });
    if (!made->watch_) {
        failure = "no main run loop to run PipeWire on";
        return nullptr;
    }
    return made;
}

PipeWireLoop::PipeWireLoop(Token, pw_loop* loop) : loop_(loop) {
    // Entered once: calls made on this thread then run at once instead of being queued.
    pw_loop_enter(loop_);
}

PipeWireLoop::~PipeWireLoop() {
    watch_.reset();
    pw_loop_leave(loop_);
    pw_loop_destroy(loop_);
}

void PipeWireLoop::iterate() {
    pw_loop_iterate(loop_, 0);
    if (afterDispatch_) afterDispatch_();
}
