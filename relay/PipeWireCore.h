#pragma once

#include <functional>
#include <memory>
#include <string>

class PipeWireContext;
struct pw_core;
struct spa_hook;

// A connection to the PipeWire daemon. It must go before its context; streams made on it must go
// before it.
class PipeWireCore {
    struct Token {};

  public:
    // Called, inside the loop's dispatch, when the connection breaks (the daemon went away).
    using LostHandler = std::function<void(const std::string& reason)>;

    // None, with the reason in `failure`, when no daemon answers.
    static std::unique_ptr<PipeWireCore> connect(PipeWireContext& context, LostHandler lost,
                                                 std::string& failure);
    PipeWireCore(Token, pw_core* core, LostHandler lost);
    ~PipeWireCore();
    PipeWireCore(const PipeWireCore&) = delete;
    PipeWireCore& operator=(const PipeWireCore&) = delete;

    pw_core* get() const { return core_; }

  private:
    static void onError(void* data, uint32_t id, int seq, int res, const char* message);

    pw_core* core_;
    LostHandler lost_;
    std::unique_ptr<spa_hook> listener_;
};
