#pragma once

#include "app/ReceiverState.h"

// Receiver state a test sets at will, including combinations the real receiver never reaches. A
// test emits the will-change signal before each change, as the receiver does.
struct FakeReceiverState : ReceiverState {
    std::shared_ptr<gpu::Texture> currentTexture() const override { return texture; }
    bool isReceiving() const override { return receiving; }
    int64_t lastFrameNumber() const override { return frameNumber; }
    double fps() const override { return rate; }
    WillChangeSignal& objectWillChange() override { return willChange; }

    std::shared_ptr<gpu::Texture> texture;
    bool receiving = false;
    int64_t frameNumber = 0;
    double rate = 0.0;
    WillChangeSignal willChange;
};
