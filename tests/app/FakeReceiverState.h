#pragma once

#include "app/ReceiverState.h"

// Receiver state a test sets at will, including combinations the real receiver never reaches.
struct FakeReceiverState : ReceiverState {
    std::shared_ptr<gpu::Texture> currentTexture() const override { return texture; }
    bool isReceiving() const override { return receiving; }
    int64_t lastFrameNumber() const override { return frameNumber; }
    double fps() const override { return rate; }
    WillChangeSignal& objectWillChange() override { return willChange; }
    // Changes a value as the receiver does: the will-change signal first.
    template <typename T>
    void set(T& field, T value) {
        willChange.send();
        field = std::move(value);
    }

    std::shared_ptr<gpu::Texture> texture;
    bool receiving = false;
    int64_t frameNumber = 0;
    double rate = 0.0;
    WillChangeSignal willChange;
};
