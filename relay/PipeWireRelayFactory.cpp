#include "relay/PipeWireRelayFactory.h"

RelayServerFactory::Result PipeWireRelayFactory::create(const std::string& name,
                                                        std::shared_ptr<gpu::Device> /*device*/) {
    // Textures keep their pixels in CPU memory, so the server needs nothing of the device.
    auto made = createSource(name);
    return Result{std::move(made.source), std::move(made.failure)};
}

PipeWireRelayFactory::SourceResult PipeWireRelayFactory::createSource(const std::string& name) {
    SourceResult result;
    result.source = PipeWireVideoSource::create(name, log_, runLoop_, result.failure);
    return result;
}
