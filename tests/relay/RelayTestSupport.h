#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gpu/Device.h"
#include "gpu/Texture.h"
#include "relay/PixelRegion.h"
#include "relay/RelayServer.h"

namespace relaytest {

using namespace std::chrono_literals;

// Runs the Qt event loop (and with it the relay's PipeWire loop) until `done` holds; false when
// `limit` passes first. The limit only keeps a broken run from hanging.
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s);
// Runs the Qt event loop for `duration`.
void spinFor(std::chrono::milliseconds duration);

// A texture holding the four-quadrant test picture.
std::shared_ptr<gpu::Texture> patternTexture(gpu::Device& device, uint32_t width, uint32_t height);
// Publishes `region` of `texture` through `server` on a fresh command buffer and commits it.
void publish(RelayServer& server, const std::shared_ptr<gpu::Texture>& texture,
             const PixelRegion& region, bool flipped = true);
void publishWhole(RelayServer& server, const std::shared_ptr<gpu::Texture>& texture,
                  bool flipped = true);

// The tightly packed BGRA bytes a consumer must receive for `region` of `texture`.
std::vector<uint8_t> expectedFrame(const gpu::Texture& texture, const PixelRegion& region,
                                   bool flipped);

// Describes where two frames first differ, for failure messages.
std::string firstDifference(const std::vector<uint8_t>& actual,
                            const std::vector<uint8_t>& expected, uint32_t width);

// Runs a program to its end while the Qt loop keeps running; its standard output, or none
// when it failed to start or exited with an error.
struct ToolResult {
    bool ok = false;
    int exitCode = -1;
    std::string output;
    std::string errors;
};
ToolResult runTool(const std::string& program, const std::vector<std::string>& arguments,
                   std::chrono::milliseconds limit = 30s);

// The properties of every PipeWire node whose node.name is `name`, from pw-dump.
std::vector<std::map<std::string, std::string>> nodesNamed(const std::string& name);

}  // namespace relaytest
