#include "app/RecordingSinkFactory.h"

#include <vector>

#include "app/RelayFanOut.h"

namespace {

class RecordingTap : public FrameSink {
  public:
    explicit RecordingTap(std::shared_ptr<RecordingControl> recording)
        : recording_(std::move(recording)) {}
    void publishFrame(std::shared_ptr<gpu::Texture> texture) override {
        recording_->publishFrame(texture);
    }
    // The application finishes the recordings itself, waiting for their files.
    void stop() override {}

  private:
    std::shared_ptr<RecordingControl> recording_;
};

}  // namespace

FrameSinkFactory::Result RecordingSinkFactory::create(const std::string& name,
                                                      std::shared_ptr<gpu::FrameStore> frameStore) {
    Result result = relay_->create(name, std::move(frameStore));
    std::vector<std::unique_ptr<FrameSink>> servers;
    if (result.server) servers.push_back(std::move(result.server));
    servers.push_back(std::make_unique<RecordingTap>(recording_));
    result.server = std::make_unique<RelayFanOut>(std::move(servers));
    return result;
}
