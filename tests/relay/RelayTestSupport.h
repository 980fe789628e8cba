#pragma once

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/FrameSink.h"
#include "format/Configuration.h"
#include "gpu/FrameStore.h"
#include "tools/writer/TestPattern.h"

// What the relay tests and the relay benchmark share.
namespace relaytest {

using namespace std::chrono_literals;

inline const std::string serverName(config::cameraName);

inline void spinFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the Qt event loop (and the relay's with it) until `done`; false when `limit` passes first.
inline bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (; !done(); spinFor(5ms))
        if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
}

// A texture holding the four-quadrant test picture.
inline std::shared_ptr<gpu::Texture> patternTexture(gpu::FrameStore& frameStore, uint32_t width,
                                                    uint32_t height) {
    auto texture = frameStore.newTexture(width, height);
    const auto pixels = TestPattern::quadrants(width, height, width * 4);
    texture->writePixels(pixels.data(), width * 4);
    return texture;
}

// Publishes `texture` through `server`.
inline void publish(FrameSink& server, const std::shared_ptr<gpu::Texture>& texture) {
    server.publishFrame(texture);
}

}  // namespace relaytest
