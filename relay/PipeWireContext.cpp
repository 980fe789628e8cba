#include "relay/PipeWireContext.h"

#include <pipewire/pipewire.h>

#include <cerrno>
#include <cstring>

#include "relay/PipeWireLoop.h"

std::unique_ptr<PipeWireContext> PipeWireContext::create(PipeWireLoop& loop, std::string& failure) {
    pw_context* context = pw_context_new(loop.get(), nullptr, 0);
    if (!context) {
        failure = std::string("cannot make a PipeWire context: ") + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<PipeWireContext>(Token{}, context);
}

PipeWireContext::~PipeWireContext() { pw_context_destroy(context_); }
