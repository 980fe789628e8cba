#include "relay/PipeWireCore.h"

#include <pipewire/pipewire.h>

#include <cerrno>
#include <cstring>

#include "relay/PipeWireContext.h"

std::unique_ptr<PipeWireCore> PipeWireCore::connect(PipeWireContext& context, LostHandler lost,
                                                    std::string& failure) {
    pw_core* core = pw_context_connect(context.get(), nullptr, 0);
    if (!core) {
        failure = std::string("cannot connect to the PipeWire daemon: ") + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<PipeWireCore>(Token{}, core, std::move(lost));
}

PipeWireCore::PipeWireCore(Token, pw_core* core, LostHandler lost)
    : core_(core), lost_(std::move(lost)), listener_(std::make_unique<spa_hook>()) {
    static const pw_core_events events = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.error = &PipeWireCore::onError;
        return e;
    }();
    spa_zero(*listener_);
    pw_core_add_listener(core_, listener_.get(), &events, this);
}

PipeWireCore::~PipeWireCore() {
    spa_hook_remove(listener_.get());
    pw_core_disconnect(core_);
}

void PipeWireCore::onError(void* data, uint32_t id, int /*seq*/, int res, const char* message) {
    // Errors about single objects arrive with their own ids; one about the core itself means
    // the connection is gone.
    if (id != PW_ID_CORE) return;
    auto* self = static_cast<PipeWireCore*>(data);
    std::string reason = message ? message : "";
    if (reason.empty()) reason = std::strerror(-res);
    if (self->lost_) self->lost_(reason);
}
