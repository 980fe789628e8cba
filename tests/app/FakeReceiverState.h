#pragma once

#include <memory>

#include "app/ReceiverState.h"

// Receiver state a test sets at will, including combinations the real receiver never reaches.
// Each assignment emits the will-change signal first, as the receiver does.
class FakeReceiverState : public ReceiverState {
  public:
    std::shared_ptr<gpu::Texture> currentTexture() const override { return texture_; }
    bool isReceiving() const override { return receiving_; }
    int64_t lastFrameNumber() const override { return frameNumber_; }
    double fps() const override { return fps_; }
    WillChangeSignal& objectWillChange() override { return signal_; }

    void setTexture(std::shared_ptr<gpu::Texture> texture) {
        signal_.emit();
        texture_ = std::move(texture);
    }
    void setReceiving(bool receiving) {
        signal_.emit();
        receiving_ = receiving;
    }
    void setFrameNumber(int64_t frameNumber) {
        signal_.emit();
        frameNumber_ = frameNumber;
    }
    void setFps(double fps) {
        signal_.emit();
        fps_ = fps;
    }

  private:
    std::shared_ptr<gpu::Texture> texture_;
    bool receiving_ = false;
    int64_t frameNumber_ = 0;
    double fps_ = 0.0;
    WillChangeSignal signal_;
};
