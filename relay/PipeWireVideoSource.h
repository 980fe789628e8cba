#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/FrameSink.h"
#include "core/LogSink.h"
#include "core/RunLoop.h"
#include "gpu/FrameStore.h"
#include "relay/CameraOptions.h"

class VideoSourceSession;

// The relay to other applications: a PipeWire video source node (media.class Video/Source) that
// carries every published frame at the frame's own size, as BGRA, BGRx, I420, NV12 or YUY2,
// whichever its consumer takes. It runs on the main thread's run loop, and looks for the daemon
// again whenever it is missing or goes away.
class PipeWireVideoSource : public FrameSink {
    struct Token {};

  public:
    // None only when PipeWire cannot run here at all. Otherwise a server, which is announced
    // unless `failure` says why not; it then announces itself once the daemon appears. Its log
    // lines call it `name`; other applications list it as `camera` says.
    static std::unique_ptr<PipeWireVideoSource> create(const std::string& name,
                                                       CameraOptions camera,
                                                       std::shared_ptr<LogSink> log,
                                                       std::shared_ptr<RunLoop> runLoop,
                                                       std::string& failure);
    PipeWireVideoSource(Token, std::shared_ptr<VideoSourceSession> session);
    ~PipeWireVideoSource() override;

    void publishFrame(std::shared_ptr<gpu::Texture> texture) override;
    void stop() override;
    // New textures of `frameStore` get their texels in the memory of a buffer the consumer takes as
    // it is, when there is one, so that a frame leaves without a copy.
    void lendBuffersTo(gpu::FrameStore& frameStore);

    // Inspection for tests and benchmarks.
    uint64_t copiedFrames() const;
    bool isConnected() const;
    bool isStreaming() const;

  private:
    std::shared_ptr<VideoSourceSession> session_;
};
