#pragma once

#include <memory>
#include <vector>

#include "core/FrameSink.h"

// One relay server that hands each frame to several, in order.
class RelayFanOut : public FrameSink {
  public:
    explicit RelayFanOut(std::vector<std::unique_ptr<FrameSink>> servers)
        : servers_(std::move(servers)) {}

    void publishFrame(std::shared_ptr<gpu::Texture> texture,
                             gpu::CommandBuffer& commandBuffer, gpu::Rect imageRegion,
                             bool flipped) override {
        for (auto& server : servers_)
            server->publishFrame(texture, commandBuffer, imageRegion, flipped);
    }
    void stop() override {
        for (auto& server : servers_) server->stop();
    }

  private:
    std::vector<std::unique_ptr<FrameSink>> servers_;
};
