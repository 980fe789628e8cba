#pragma once

#include <memory>
#include <vector>

#include "core/RelayServer.h"

// One relay server that hands each frame to several, in order.
class RelayFanOut : public RelayServer {
  public:
    explicit RelayFanOut(std::vector<std::unique_ptr<RelayServer>> servers)
        : servers_(std::move(servers)) {}

    void publishFrameTexture(std::shared_ptr<gpu::Texture> texture,
                             gpu::CommandBuffer& commandBuffer, gpu::Rect imageRegion,
                             bool flipped) override {
        for (auto& server : servers_)
            server->publishFrameTexture(texture, commandBuffer, imageRegion, flipped);
    }
    void stop() override {
        for (auto& server : servers_) server->stop();
    }

  private:
    std::vector<std::unique_ptr<RelayServer>> servers_;
};
