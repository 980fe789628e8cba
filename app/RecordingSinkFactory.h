#pragma once

#include <memory>
#include <string>

#include "app/RecordingControl.h"
#include "core/FrameSink.h"

// Makes the relay of another factory and, beside it, a sink that hands each frame to the
// recording under way, so that recordings can start and stop while the relay runs on.
class RecordingSinkFactory : public FrameSinkFactory {
  public:
    RecordingSinkFactory(std::shared_ptr<FrameSinkFactory> relay,
                         std::shared_ptr<RecordingControl> recording)
        : relay_(std::move(relay)), recording_(std::move(recording)) {}

    Result create(const std::string& name, std::shared_ptr<gpu::FrameStore> frameStore) override;

  private:
    std::shared_ptr<FrameSinkFactory> relay_;
    std::shared_ptr<RecordingControl> recording_;
};
