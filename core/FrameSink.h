#pragma once

#include <memory>
#include <string>

#include "gpu/FrameStore.h"
#include "gpu/Texture.h"

// Hands each frame on to other applications.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // Sends the whole of `texture`, row 0 at the top, to whoever takes frames now.
    virtual void publishFrame(std::shared_ptr<gpu::Texture> texture) = 0;
    // Withdraws the sink; nothing is sent afterwards.
    virtual void stop() = 0;
};

// Makes frame sinks. A sink may exist yet not be announced (its daemon is missing); then
// `failure` says why, and the sink keeps trying to announce itself.
class FrameSinkFactory {
  public:
    struct Result {
        std::unique_ptr<FrameSink> server;
        std::string failure;
    };
    virtual ~FrameSinkFactory() = default;
    virtual Result create(const std::string& name, std::shared_ptr<gpu::FrameStore> frameStore) = 0;
};
