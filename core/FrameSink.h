#pragma once

#include <memory>
#include <string>

#include "gpu/CommandBuffer.h"
#include "gpu/FrameStore.h"
#include "gpu/Region.h"
#include "gpu/Texture.h"

// Hands each frame texture on to other applications.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // Encodes the relay of `imageRegion` of `texture` on `commandBuffer`; the frame leaves when
    // the buffer is committed. `flipped` true keeps texture row 0 as the top row.
    virtual void publishFrame(std::shared_ptr<gpu::Texture> texture,
                                     gpu::CommandBuffer& commandBuffer, gpu::Rect imageRegion,
                                     bool flipped) = 0;
    // Withdraws the server; nothing is relayed afterwards.
    virtual void stop() = 0;
};

// Makes relay servers. A server may exist yet not be announced (its daemon is missing); then
// `failure` says why, and the server keeps trying to announce itself.
class FrameSinkFactory {
  public:
    struct Result {
        std::unique_ptr<FrameSink> server;
        std::string failure;
    };
    virtual ~FrameSinkFactory() = default;
    virtual Result create(const std::string& name, std::shared_ptr<gpu::FrameStore> frameStore) = 0;
};
