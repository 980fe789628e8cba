#pragma once

#include <memory>
#include <string>

#include "receiver/LogSink.h"
#include "relay/PipeWireVideoSource.h"
#include "relay/RelayServer.h"

// Makes PipeWire video sources. Its servers log their own events (losing the daemon, finding it
// again) to `log`. Needs a QCoreApplication on the main thread.
class PipeWireRelayFactory : public RelayServerFactory {
  public:
    explicit PipeWireRelayFactory(std::shared_ptr<LogSink> log) : log_(std::move(log)) {}

    Result create(const std::string& name, std::shared_ptr<gpu::Device> device) override;

    struct SourceResult {
        std::unique_ptr<PipeWireVideoSource> source;
        std::string failure;
    };
    // The same, keeping the server's own type.
    SourceResult createSource(const std::string& name);

  private:
    std::shared_ptr<LogSink> log_;
};
