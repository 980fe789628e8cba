#pragma once

#include <memory>
#include <vector>

#include "core/FrameSink.h"

// One frame sink that hands each frame to several, in order.
class RelayFanOut : public FrameSink {
  public:
    explicit RelayFanOut(std::vector<std::unique_ptr<FrameSink>> servers)
        : servers_(std::move(servers)) {}

    void publishFrame(std::shared_ptr<gpu::Texture> texture) override {
        for (auto& server : servers_) server->publishFrame(texture);
    }
    void stop() override {
        for (auto& server : servers_) server->stop();
    }

  private:
    std::vector<std::unique_ptr<FrameSink>> servers_;
};
