#pragma once

#include <memory>
#include <string>

#include "core/FrameSink.h"
#include "core/LogSink.h"
#include "core/RunLoop.h"
#include "relay/PipeWireVideoSource.h"

// Makes PipeWire video sources, shown to other applications as `camera` says. Its servers log
// their own events (losing the daemon, finding it again) to `log`, and run on `runLoop`, the main
// thread's.
class PipeWireRelayFactory : public FrameSinkFactory {
  public:
    PipeWireRelayFactory(std::shared_ptr<LogSink> log, std::shared_ptr<RunLoop> runLoop,
                         CameraOptions camera = {})
        : log_(std::move(log)), runLoop_(std::move(runLoop)), camera_(std::move(camera)) {}

    Result create(const std::string& name, std::shared_ptr<gpu::FrameStore> frameStore) override;

    struct SourceResult {
        std::unique_ptr<PipeWireVideoSource> source;
        std::string failure;
    };
    // The same, keeping the server's own type.
    SourceResult createSource(const std::string& name);

  private:
    std::shared_ptr<LogSink> log_;
    std::shared_ptr<RunLoop> runLoop_;
    CameraOptions camera_;
};
