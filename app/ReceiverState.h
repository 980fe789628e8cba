#pragma once

#include <cstdint>
#include <memory>

#include "core/WillChangeSignal.h"
#include "gpu/Texture.h"

// What the window reads of a receiver: its four published values and its will-change signal.
// The window depends on this rather than on the receiver itself, so that states the receiver
// never reaches (a texture without frames, frames without a texture) can be shown too.
class ReceiverState {
  public:
    virtual ~ReceiverState() = default;
    virtual std::shared_ptr<gpu::Texture> currentTexture() const = 0;
    virtual bool isReceiving() const = 0;
    virtual int64_t lastFrameNumber() const = 0;
    virtual double fps() const = 0;
    virtual WillChangeSignal& objectWillChange() = 0;
};
