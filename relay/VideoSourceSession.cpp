#include "relay/VideoSourceSession.h"

#include "relay/CameraName.h"
#include "relay/PipeWireContext.h"
#include "relay/PipeWireCore.h"
#include "relay/PipeWireLoop.h"
#include "relay/PipeWireRegistry.h"
#include "relay/RelayFrame.h"
#include "relay/VideoFormatParams.h"
#include "relay/VideoSourceStream.h"

std::shared_ptr<VideoSourceSession> VideoSourceSession::create(std::string name,
                                                               CameraOptions camera,
                                                               std::shared_ptr<LogSink> log,
                                                               std::shared_ptr<RunLoop> runLoop,
                                                               std::string& failure) {
    if (!runLoop) {
        failure = "no main run loop to run PipeWire on";
        return nullptr;
    }
    auto loop = PipeWireLoop::create(*runLoop, failure);
    if (!loop) return nullptr;
    auto session =
        std::make_shared<VideoSourceSession>(Token{}, std::move(name), std::move(camera),
                                             std::move(log), std::move(runLoop), std::move(loop));
    if (!session->connect(failure)) session->startRetrying();
    return session;
}

VideoSourceSession::VideoSourceSession(Token, std::string name, CameraOptions camera,
                                       std::shared_ptr<LogSink> log,
                                       std::shared_ptr<RunLoop> runLoop,
                                       std::unique_ptr<PipeWireLoop> loop)
    : name_(std::move(name)),
      camera_(std::move(camera)),
      log_(std::move(log)),
      runLoop_(std::move(runLoop)),
      loop_(std::move(loop)),
      offeredRate_(videoFormatParams::defaultRate) {
    if (camera_.name.empty()) camera_.name = name_;
    // A frame that waited for a renegotiation leaves once its buffers have come; the camera is
    // announced once its name is known; links made or gone change the count of consumers.
    loop_->setAfterDispatch([this] {
        if (stream_) stream_->sendPending();
        announceWhenNamed();
        updateConsumers();
    });
}

VideoSourceSession::~VideoSourceSession() { stop(); }

void VideoSourceSession::stop() {
    stopped_ = true;
    retryTimer_.reset();
    camera_.consumersChanged = nullptr;  // its listener may be on its way out
    releaseConnection();
    // In the order PipeWire needs: stream and core are gone; then the context, then the loop.
    context_.reset();
    loop_.reset();
}

bool VideoSourceSession::connect(std::string& failure) {
    if (!context_) {
        context_ = PipeWireContext::create(*loop_, failure);
        if (!context_) return false;
    }
    const auto lost = [this](const std::string& reason) { connectionLost(reason); };
    core_ = PipeWireCore::connect(*context_, lost, failure);
    if (!core_) return false;
    // The registry listens on a connection of its own. The daemon (0.3.65) takes any answer from
    // a node that bears the sequence number it waits on as the end of the node's buffer setup,
    // even WirePlumber's reading of the node's formats; every global the registry hears of would
    // advance the stream connection's numbers into WirePlumber's, and a consumer would then get
    // the buffers before their memory was filled in, with no data it could use.
    registryCore_ = PipeWireCore::connect(*context_, lost, failure);
    if (!registryCore_) {
        core_.reset();
        return false;
    }
    // Not a blocking round trip: the stream waits for the registry's answer in the loop.
    registry_ = std::make_unique<PipeWireRegistry>(*registryCore_);
    return true;
}

void VideoSourceSession::announceWhenNamed() {
    if (stopped_ || stream_ || !registry_ || !registry_->synced() || connectionBroken_ ||
        streamBroken_) {
        return;
    }
    const std::string name = cameraName::firstFree(camera_.name, registry_->sourceNames());
    if (name != camera_.name && name != announcedName_)
        logLine("⚠️ Camera name '" + camera_.name + "' is taken; using '" + name + "'");
    announcedName_ = name;
    std::string failure;
    stream_ = makeStream(failure);
    if (!stream_) streamFailed(failure);
}

void VideoSourceSession::updateConsumers() {
    const uint32_t consumers =
        stream_ && registry_ && !connectionBroken_ ? registry_->linksFrom(stream_->nodeId()) : 0;
    if (consumers == consumers_) return;
    consumers_ = consumers;
    if (camera_.consumersChanged) camera_.consumersChanged(consumers);
}

void VideoSourceSession::releaseConnection() {
    if (stream_) copiedBefore_ += stream_->sentFrames();
    stream_.reset();
    registry_.reset();
    registryCore_.reset();
    core_.reset();
    updateConsumers();
}

void VideoSourceSession::connectionLost(const std::string& reason) {
    if (stopped_) return;
    if (!connectionBroken_) lostReason_ = reason;
    connectionBroken_ = true;
    scheduleRecovery();
}

void VideoSourceSession::streamFailed(const std::string& reason) {
    if (stopped_) return;
    if (!streamBroken_) failedReason_ = reason;
    streamBroken_ = true;
    scheduleRecovery();
}

void VideoSourceSession::scheduleRecovery() {
    if (recoveryScheduled_) return;
    recoveryScheduled_ = true;
    // PipeWire objects are not destroyed inside their own callbacks, and a lost daemon also
    // fails the stream: the work waits for the next pass of the run loop, which knows both.
    runLoop_->post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->recover();
    });
}

void VideoSourceSession::recover() {
    recoveryScheduled_ = false;
    if (stopped_) return;
    if (connectionBroken_) {
        logLine("❌ Syphon server '" + name_ + "' lost PipeWire: " + lostReason_ +
                " (frames are not relayed until it returns)");
        releaseConnection();
        connectionBroken_ = false;
        streamBroken_ = false;
        startRetrying();
        return;
    }
    if (!streamBroken_) return;
    streamBroken_ = false;
    logLine("❌ Syphon server '" + name_ + "' stream failed: " + failedReason_ +
            " (announcing it again)");
    if (stream_) copiedBefore_ += stream_->sentFrames();
    stream_.reset();
    std::string failure;
    stream_ = makeStream(failure);
    if (!stream_) {
        // Start over with a fresh connection.
        releaseConnection();
        startRetrying();
    }
}

std::unique_ptr<VideoSourceStream> VideoSourceSession::makeStream(std::string& failure) {
    return VideoSourceStream::create(
        *core_, announcedName_, lastSize_, offeredRate_,
        [this](const std::string& reason) { streamFailed(reason); }, failure);
}

void VideoSourceSession::logLine(const std::string& text) {
    if (log_) log_->line(text);
}

void VideoSourceSession::startRetrying() {
    if (retryTimer_ || stopped_) return;
    retryTimer_ = runLoop_->scheduleRepeating(retryInterval, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->retry();
    });
}

void VideoSourceSession::retry() {
    if (core_) return;  // connected; the timer is on its way out
    std::string failure;
    if (!connect(failure)) return;  // still missing; the timer goes on
    // Not destroyed inside its own tick: the run loop lets it go at its next pass.
    runLoop_->post([timer = std::shared_ptr<RepeatingTimer>(std::move(retryTimer_))] {});
    logLine("✅ Syphon server '" + name_ + "' connected to PipeWire");
}

std::shared_ptr<uint8_t> VideoSourceSession::lend(uint32_t width, uint32_t height) {
    if (stopped_ || !stream_ || connectionBroken_ || streamBroken_) return nullptr;
    return stream_->lend(FrameSize{width, height});
}

void VideoSourceSession::publish(const std::shared_ptr<gpu::Texture>& texture) {
    if (stopped_ || !texture) return;
    hostRate_.frame(FrameRateMeter::seconds(std::chrono::steady_clock::now()));
    lastSize_ = FrameSize{texture->width(), texture->height()};
    if (!stream_ || connectionBroken_ || streamBroken_) return;
    // A new rate alone would make a linked consumer renegotiate: it waits for a moment when
    // nobody streams.
    if (!stream_->isStreaming()) followHostRate();
    stream_->offer(lastSize_, offeredRate_);
    // No consumer, no cost: the frame is not even held. (A renegotiation keeps the stream
    // streaming, so a frame of a new size waits in the stream for its buffers.)
    if (!stream_->isStreaming()) return;
    stream_->submit(RelayFrame{texture});
}

void VideoSourceSession::followHostRate() {
    // Each new offer upsets a consumer whose link is being set up. Under load the host's rate
    // wavers by several frames a second, and offered anew each time (hundreds of times in 20 s)
    // it kept a consumer from ever being linked: a new rate waits until the last has stood a
    // while. A rate that wavers by a frame a second around the one offered is the same rate.
    const double now = FrameRateMeter::seconds(std::chrono::steady_clock::now());
    if (now - rateOfferedAt_ < rateHoldSeconds) return;
    const auto rate = hostRate_.wholeRate(now);
    if (rate && *rate > 0 && (*rate + 1 < offeredRate_ || *rate > offeredRate_ + 1)) {
        offeredRate_ = *rate;
        rateOfferedAt_ = now;
    }
}

uint64_t VideoSourceSession::copiedFrames() const {
    return copiedBefore_ + (stream_ ? stream_->sentFrames() : 0);
}

bool VideoSourceSession::isStreaming() const { return stream_ && stream_->isStreaming(); }
