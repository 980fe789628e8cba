#pragma once

#include <memory>

#include "app/ReceiverState.h"
#include "receiver/TextureReceiver.h"

// The window's view of a real receiver, which it keeps alive.
class TextureReceiverState : public ReceiverState {
  public:
    explicit TextureReceiverState(std::shared_ptr<TextureReceiver> receiver)
        : receiver_(std::move(receiver)) {}

    std::shared_ptr<gpu::Texture> currentTexture() const override {
        return receiver_->currentTexture();
    }
    bool isReceiving() const override { return receiver_->isReceiving(); }
    int64_t lastFrameNumber() const override { return receiver_->lastFrameNumber(); }
    double fps() const override { return receiver_->fps(); }
    WillChangeSignal& objectWillChange() override { return receiver_->objectWillChange; }

  private:
    std::shared_ptr<TextureReceiver> receiver_;
};
