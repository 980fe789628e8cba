#include "relay/PipeWireRegistry.h"

#include <pipewire/pipewire.h>
#include <spa/utils/string.h>

#include <algorithm>

#include "relay/PipeWireCore.h"

struct PipeWireRegistry::Callbacks {
    static void global(void* data, uint32_t id, uint32_t /*permissions*/, const char* type,
                       uint32_t /*version*/, const spa_dict* props) {
        auto* self = static_cast<PipeWireRegistry*>(data);
        if (!props) return;
        if (spa_streq(type, PW_TYPE_INTERFACE_Node)) {
            const char* mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
            const char* description = spa_dict_lookup(props, PW_KEY_NODE_DESCRIPTION);
            if (spa_streq(mediaClass, "Video/Source") && description)
                self->sources_[id] = description;
        } else if (spa_streq(type, PW_TYPE_INTERFACE_Link)) {
            uint32_t output = 0;
            if (spa_atou32(spa_dict_lookup(props, PW_KEY_LINK_OUTPUT_NODE), &output, 10))
                self->links_[id] = output;
        }
    }

    static void globalRemove(void* data, uint32_t id) {
        auto* self = static_cast<PipeWireRegistry*>(data);
        self->sources_.erase(id);
        self->links_.erase(id);
    }

    static void done(void* data, uint32_t id, int seq) {
        auto* self = static_cast<PipeWireRegistry*>(data);
        if (id == PW_ID_CORE && seq == self->syncSequence_) self->synced_ = true;
    }
};

PipeWireRegistry::PipeWireRegistry(PipeWireCore& core)
    : registry_(pw_core_get_registry(core.get(), PW_VERSION_REGISTRY, 0)),
      registryListener_(std::make_unique<spa_hook>()),
      coreListener_(std::make_unique<spa_hook>()) {
    static const pw_registry_events registryEvents = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global = &Callbacks::global;
        e.global_remove = &Callbacks::globalRemove;
        return e;
    }();
    static const pw_core_events coreEvents = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.done = &Callbacks::done;
        return e;
    }();
    spa_zero(*registryListener_);
    spa_zero(*coreListener_);
    pw_core_add_listener(core.get(), coreListener_.get(), &coreEvents, this);
    if (registry_)
        pw_registry_add_listener(registry_, registryListener_.get(), &registryEvents, this);
    // Every global there is now is announced before the daemon answers this round trip.
    syncSequence_ = pw_core_sync(core.get(), PW_ID_CORE, 0);
}

PipeWireRegistry::~PipeWireRegistry() {
    spa_hook_remove(coreListener_.get());
    if (!registry_) return;
    spa_hook_remove(registryListener_.get());
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
}

std::set<std::string> PipeWireRegistry::sourceNames() const {
    std::set<std::string> names;
    for (const auto& [id, name] : sources_) names.insert(name);
    return names;
}

uint32_t PipeWireRegistry::linksFrom(uint32_t nodeId) const {
    return uint32_t(
        std::ranges::count_if(links_, [&](const auto& link) { return link.second == nodeId; }));
}
