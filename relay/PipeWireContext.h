#pragma once

#include <memory>
#include <string>

class PipeWireLoop;
struct pw_context;

// A PipeWire context on a loop of the main thread. It must go before its loop.
class PipeWireContext {
    struct Token {};

  public:
    static std::unique_ptr<PipeWireContext> create(PipeWireLoop& loop, std::string& failure);
    PipeWireContext(Token, pw_context* context) : context_(context) {}
    ~PipeWireContext();
    PipeWireContext(const PipeWireContext&) = delete;
    PipeWireContext& operator=(const PipeWireContext&) = delete;

    pw_context* get() const { return context_; }

  private:
    pw_context* context_;
};
