#include "relay/PipeWireRelayFactory.h"

FrameSinkFactory::Result PipeWireRelayFactory::create(const std::string& name,
                                                      std::shared_ptr<gpu::FrameStore> frameStore) {
    auto made = createSource(name);
    if (made.source && frameStore) made.source->lendBuffersTo(*frameStore);
    return Result{std::move(made.source), std::move(made.failure)};
}

PipeWireRelayFactory::SourceResult PipeWireRelayFactory::createSource(const std::string& name) {
    SourceResult result;
    result.source = PipeWireVideoSource::create(name, camera_, log_, runLoop_, result.failure);
    return result;
}
