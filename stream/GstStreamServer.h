#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "core/FrameRateMeter.h"
#include "core/FrameSink.h"
#include "core/LogSink.h"
#include "core/RunLoop.h"
#include "stream/FailureBackoff.h"
#include "stream/StreamPipeline.h"
#include "stream/StreamSettings.h"

typedef struct _GstElement GstElement;

// Sends the frames as H.264 in MPEG-TS over SRT through a GStreamer pipeline. Each frame's
// texture goes in as it is, without a copy, and is held until GStreamer lets it go; conversion,
// scaling, encoding and sending run on GStreamer's threads. A frame that finds the encoder still
// busy with two earlier ones is dropped and counted. Everything else runs on the main thread.
class GstStreamServer : public FrameSink {
  public:
    // None, with `failure` naming the missing piece and its Debian package, when GStreamer or one
    // of the elements is missing.
    static std::unique_ptr<GstStreamServer> create(const StreamSettings& settings,
                                                   std::shared_ptr<LogSink> log,
                                                   std::shared_ptr<RunLoop> runLoop,
                                                   std::string& failure);
    ~GstStreamServer() override;
    GstStreamServer(const GstStreamServer&) = delete;
    GstStreamServer& operator=(const GstStreamServer&) = delete;

    // Takes `texture` as stored (row 0 on top), whole.
    void publishFrame(std::shared_ptr<gpu::Texture> texture) override;
    void stop() override;

    uint64_t droppedFrames() const { return droppedTotal_; }
    // How often the pipeline has been started again after a failure.
    uint64_t restarts() const { return restarts_; }

    // Use create(); this makes a server without a pipeline.
    GstStreamServer(std::shared_ptr<LogSink> log, std::shared_ptr<RunLoop> runLoop);

  private:
    void push(const std::shared_ptr<gpu::Texture>& texture);
    // Whether a frame the host gave at `now` keeps the stream within --stream-fps. A faster
    // host's frames are dropped here rather than held for a slot, as videorate would.
    bool withinRate(std::chrono::steady_clock::time_point now);
    // Logs a new kind of failure, with GStreamer's reason, and stops the pipeline until it is
    // started again after the back-off.
    void onError(const std::string& failure);
    void onTick();
    // In caller mode: logs the connection to the listener when it is made and when it is lost.
    void watchConnection();
    void setConnected(bool connected);
    // Runs on GStreamer's threads: hands `job` to the main thread, unless the server is gone.
    void postToMain(std::function<void()> job);
    static void onCallerAdded(GstElement*, int, void* address, GstStreamServer* self);
    static void onCallerRemoved(GstElement*, int, void* address, GstStreamServer* self);

    std::shared_ptr<LogSink> log_;
    std::shared_ptr<RunLoop> runLoop_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<StreamPipeline> pipeline_;  // stopped in the destructor
    GstElement* sink_ = nullptr;                // borrowed from the pipeline; only in caller mode
    std::string listener_;                      // HOST:PORT called, in caller mode
    bool connected_ = false;                    // to the listener, in caller mode
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t maxRate_ = 0;                 // --stream-fps; 0: none
    uint32_t rate_ = 0;                    // the frames a second the encoder is told to expect
    uint32_t capsRate_ = 0;                // the rate of the caps last given
    std::chrono::nanoseconds interval_{};  // between frames at --stream-fps
    std::chrono::steady_clock::time_point nextDue_{};
    FrameRateMeter hostRate_;
    int offTicks_ = 0;  // ticks on end that found the host's rate a tenth off rate_
    bool stopped_ = false;
    FailureBackoff backoff_;
    uint64_t restarts_ = 0;
    int ticksThisMinute_ = 0;
    uint64_t droppedThisMinute_ = 0;
    uint64_t droppedTotal_ = 0;
    std::unique_ptr<RepeatingTimer> timer_;
};
