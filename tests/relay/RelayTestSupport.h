#pragma once

#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/Configuration.h"
#include "gpu/Device.h"
#include "relay/PipeWireVideoSource.h"
#include "relay/PixelRegion.h"

namespace relaytest {

using namespace std::chrono_literals;

inline const std::string serverName(config::syphonServerName);

// Runs the Qt event loop (and with it the relay's PipeWire loop) until `done` holds; false when
// `limit` passes first. The limit only keeps a broken run from hanging.
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s);
void spinFor(std::chrono::milliseconds duration);

// A texture holding the four-quadrant test picture.
std::shared_ptr<gpu::Texture> patternTexture(gpu::Device& device, uint32_t width, uint32_t height);
// Publishes `region` of `texture` through `server` on a fresh command buffer and commits it.
void publish(RelayServer& server, const std::shared_ptr<gpu::Texture>& texture,
             const PixelRegion& region, bool flipped = true);
inline void publishWhole(RelayServer& server, const std::shared_ptr<gpu::Texture>& texture) {
    publish(server, texture, {0, 0, texture->width(), texture->height()});
}
// The tightly packed BGRA bytes a consumer must receive for `region` of `texture`.
std::vector<uint8_t> expectedFrame(const gpu::Texture& texture, const PixelRegion& region,
                                   bool flipped);
// Publishes `texture` about every 5 ms for a while; true when `source` copied none of it.
bool nothingCopiedWhilePublishing(PipeWireVideoSource& source,
                                  const std::shared_ptr<gpu::Texture>& texture);

// Runs a program to its end (pw-cli and pw-dump need the daemon alone, so the relay's loop may
// wait); its standard output, or none when it failed or ran for over 30 s.
std::optional<std::string> runTool(const QString& program, const QStringList& arguments);
// How many PipeWire nodes are named `name`, from pw-dump.
size_t nodesNamed(const std::string& name);

// Runs a fresh gst-launch-1.0 client (pipewiresrc linked to the relay by name, converting to
// BGRA) for `frames` frames, calling `feed` about every 10 ms. "" when it ended well with each
// frame `expected` (a frame of another size differs: the test picture is not symmetric).
std::string gstMismatch(const std::function<void()>& feed, const std::vector<uint8_t>& expected,
                        int frames = 3);
// The same for a client fed `region` of `texture` through `server`.
std::string gstMismatch(RelayServer& server, const std::shared_ptr<gpu::Texture>& texture,
                        const PixelRegion& region, bool flipped = true, int frames = 3);

}  // namespace relaytest
