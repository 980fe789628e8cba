#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/FrameRateMeter.h"
#include "core/LogSink.h"
#include "core/RunLoop.h"
#include "gpu/StorageLender.h"
#include "gpu/Texture.h"
#include "relay/CameraOptions.h"
#include "relay/FrameSize.h"

class PipeWireContext;
class PipeWireCore;
class PipeWireLoop;
class PipeWireRegistry;
class VideoSourceStream;

// Everything behind one relay server: the PipeWire loop, context, connection and stream, and
// the reconnection to a daemon that is missing or went away. Main thread only.
class VideoSourceSession : public std::enable_shared_from_this<VideoSourceSession>,
                           public gpu::StorageLender {
    struct Token {};

  public:
    // How often a missing daemon is looked for again.
    static constexpr std::chrono::milliseconds retryInterval{500};
    // What the stream offers before the first frame says otherwise.
    static constexpr FrameSize initialSize{1920, 1080};
    // How long an offered rate stands before another host rate may replace it.
    static constexpr double rateHoldSeconds = 5.0;

    // None when not even a loop can be made; otherwise a session, which is connected unless
    // `failure` says why not (it then keeps trying). Its log lines name it `name`; its camera is
    // announced once the registry has told which camera names are taken.
    static std::shared_ptr<VideoSourceSession> create(std::string name, CameraOptions camera,
                                                      std::shared_ptr<LogSink> log,
                                                      std::shared_ptr<RunLoop> runLoop,
                                                      std::string& failure);
    VideoSourceSession(Token, std::string name, CameraOptions camera, std::shared_ptr<LogSink> log,
                       std::shared_ptr<RunLoop> runLoop, std::unique_ptr<PipeWireLoop> loop);
    ~VideoSourceSession();
    VideoSourceSession(const VideoSourceSession&) = delete;
    VideoSourceSession& operator=(const VideoSourceSession&) = delete;

    // Relays `texture` to the consumers streaming now; copies nothing without one.
    // The host's pace is noted all the same, and offered while nobody streams.
    // Lends the memory of a buffer for a frame that a consumer takes as it is.
    std::shared_ptr<uint8_t> lend(uint32_t width, uint32_t height) override;
    void publish(const std::shared_ptr<gpu::Texture>& texture);
    // Withdraws the stream and lets go of PipeWire; nothing is relayed afterwards.
    void stop();

    uint64_t copiedFrames() const;
    bool isConnected() const { return core_ != nullptr; }
    bool isStreaming() const;

  private:
    bool connect(std::string& failure);
    void releaseConnection();
    void connectionLost(const std::string& reason);
    void streamFailed(const std::string& reason);
    void scheduleRecovery();
    void recover();
    void startRetrying();
    void retry();
    void logLine(const std::string& text);
    std::unique_ptr<VideoSourceStream> makeStream(std::string& failure);
    // Announces the camera under the first free name once the registry knows them all.
    void announceWhenNamed();
    void updateConsumers();
    void followHostRate();

    std::string name_;
    CameraOptions camera_;
    std::string announcedName_;  // the camera's name in PipeWire; empty before the first
    uint32_t consumers_ = 0;
    std::shared_ptr<LogSink> log_;
    std::shared_ptr<RunLoop> runLoop_;
    std::unique_ptr<PipeWireLoop> loop_;
    std::unique_ptr<PipeWireContext> context_;
    std::unique_ptr<PipeWireCore> core_;  // the stream's
    std::unique_ptr<PipeWireCore> registryCore_;
    std::unique_ptr<PipeWireRegistry> registry_;
    std::unique_ptr<VideoSourceStream> stream_;
    std::unique_ptr<RepeatingTimer> retryTimer_;

    FrameSize lastSize_ = initialSize;
    FrameRateMeter hostRate_;
    uint32_t offeredRate_;
    double rateOfferedAt_ = -rateHoldSeconds;  // on the meter's clock
    uint64_t copiedBefore_ = 0;                // by streams already gone
    bool stopped_ = false;
    bool recoveryScheduled_ = false;
    bool connectionBroken_ = false;
    bool streamBroken_ = false;
    std::string lostReason_;
    std::string failedReason_;
};
