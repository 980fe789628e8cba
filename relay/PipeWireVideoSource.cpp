#include "relay/PipeWireVideoSource.h"

#include "relay/VideoSourceSession.h"

std::unique_ptr<PipeWireVideoSource> PipeWireVideoSource::create(const std::string& name,
                                                                 CameraOptions camera,
                                                                 std::shared_ptr<LogSink> log,
                                                                 std::shared_ptr<RunLoop> runLoop,
                                                                 std::string& failure) {
    auto session = VideoSourceSession::create(name, std::move(camera), std::move(log),
                                              std::move(runLoop), failure);
    if (!session) return nullptr;
    return std::make_unique<PipeWireVideoSource>(Token{}, std::move(session));
}

PipeWireVideoSource::PipeWireVideoSource(Token, std::shared_ptr<VideoSourceSession> session)
    : session_(std::move(session)) {}

PipeWireVideoSource::~PipeWireVideoSource() = default;

void PipeWireVideoSource::publishFrame(std::shared_ptr<gpu::Texture> texture) {
    session_->publish(texture);
}

void PipeWireVideoSource::stop() { session_->stop(); }

void PipeWireVideoSource::lendBuffersTo(gpu::FrameStore& frameStore) {
    frameStore.setStorageLender(session_);
}

uint64_t PipeWireVideoSource::copiedFrames() const { return session_->copiedFrames(); }

bool PipeWireVideoSource::isConnected() const { return session_->isConnected(); }

bool PipeWireVideoSource::isStreaming() const { return session_->isStreaming(); }
