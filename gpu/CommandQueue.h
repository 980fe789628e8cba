#pragma once

#include <memory>

#include "gpu/CommandBuffer.h"

namespace gpu {

class FrameStore;

class CommandQueue {
  public:
    explicit CommandQueue(std::shared_ptr<FrameStore> device) : frameStore_(std::move(device)) {}

    // A fresh command buffer, or none when the device has none to give.
    std::shared_ptr<CommandBuffer> commandBuffer();

  private:
    std::shared_ptr<FrameStore> frameStore_;
};

}  // namespace gpu
