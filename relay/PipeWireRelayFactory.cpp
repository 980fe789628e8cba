#include "relay/PipeWireRelayFactory.h"

RelayServerFactory::Result PipeWireRelayFactory::create(const std::string& name,
                                                        std::shared_ptr<gpu::Device> device) {
    auto made = createSource(name);
    if (made.source && device) made.source->lendBuffersTo(*device);
    return Result{std::move(made.source), std::move(made.failure)};
}

PipeWireRelayFactory::SourceResult PipeWireRelayFactory::createSource(const std::string& name) {
    SourceResult result;
    result.source = PipeWireVideoSource::create(name, log_, runLoop_, result.failure);
    return result;
}
