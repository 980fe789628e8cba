#pragma once

#include <memory>
#include <string>

#include "core/FrameSink.h"
#include "core/LogSink.h"
#include "core/RunLoop.h"
#include "stream/StreamSettings.h"

// Makes the relay of another factory and, beside it, the network stream. A stream that cannot be
// had is one "❌ " line; the other relay runs on without it.
class StreamingRelayFactory : public FrameSinkFactory {
  public:
    StreamingRelayFactory(std::shared_ptr<FrameSinkFactory> relay, StreamSettings settings,
                          std::shared_ptr<LogSink> log, std::shared_ptr<RunLoop> runLoop)
        : relay_(std::move(relay)),
          settings_(std::move(settings)),
          log_(std::move(log)),
          runLoop_(std::move(runLoop)) {}

    Result create(const std::string& name, std::shared_ptr<gpu::FrameStore> frameStore) override;

  private:
    std::shared_ptr<FrameSinkFactory> relay_;
    StreamSettings settings_;
    std::shared_ptr<LogSink> log_;
    std::shared_ptr<RunLoop> runLoop_;
};
