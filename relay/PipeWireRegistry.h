#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

class PipeWireCore;
struct pw_registry;
struct spa_hook;

// What the daemon's registry says about cameras: the names of the video sources there are, and
// the links that leave each node. Its first account is complete once `synced()`. It must go
// before its core.
class PipeWireRegistry {
  public:
    explicit PipeWireRegistry(PipeWireCore& core);
    ~PipeWireRegistry();
    PipeWireRegistry(const PipeWireRegistry&) = delete;
    PipeWireRegistry& operator=(const PipeWireRegistry&) = delete;

    bool synced() const { return synced_; }
    // The node.description of every Video/Source node.
    std::set<std::string> sourceNames() const;
    // How many links take from node `nodeId`.
    uint32_t linksFrom(uint32_t nodeId) const;

  private:
    struct Callbacks;  // the registry's and core's event handlers, which need PipeWire's types
    friend struct Callbacks;

    pw_registry* registry_;
    std::unique_ptr<spa_hook> registryListener_;
    std::unique_ptr<spa_hook> coreListener_;
    int syncSequence_ = 0;
    bool synced_ = false;
    std::map<uint32_t, std::string> sources_;  // by global id
    std::map<uint32_t, uint32_t> links_;       // link id to its output node's id
};
