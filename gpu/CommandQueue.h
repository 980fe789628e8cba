#pragma once

#include <memory>

#include "gpu/CommandBuffer.h"

namespace gpu {

class Device;

class CommandQueue {
  public:
    explicit CommandQueue(std::shared_ptr<Device> device) : device_(std::move(device)) {}

    // A fresh command buffer, or none when the device has none to give.
    std::shared_ptr<CommandBuffer> commandBuffer();

  private:
    std::shared_ptr<Device> device_;
};

}  // namespace gpu
