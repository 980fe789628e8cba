#include "stream/GstRecorder.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "stream/GstElements.h"
#include "stream/H264EncoderChoice.h"

namespace {

using namespace std::chrono_literals;

// At most this many frames, a tenth of a second at 60 Hz, wait for the encoder; a later one is
// dropped rather than holding up the intake.
constexpr guint64 maxQueuedFrames = 6;
// A key frame every two seconds at 60 Hz, where an editor or player can seek to.
constexpr uint32_t keyInterval = 120;
// The niceness of the recording's threads: conversion and encoding yield to the intake, the
// relay and the preview, and on a machine short of CPU the recording drops frames, not they.
constexpr int encodingNiceness = 10;
// How long a stopped recording may take to drain its encoder and write the file's end.
constexpr auto finishDeadline = 10s;

constexpr std::array<GstElementNeed, 7> requiredElements{{
    {"appsrc", "gstreamer1.0-plugins-base"},
    {"videoconvert", "gstreamer1.0-plugins-base"},
    {"videoscale", "gstreamer1.0-plugins-base"},
    {"x264enc", "gstreamer1.0-plugins-ugly"},
    {"h264parse", "gstreamer1.0-plugins-bad"},
    {"matroskamux", "gstreamer1.0-plugins-good"},
    {"filesink", "gstreamer1.0-plugins-base"},
}};

void releaseTexture(gpointer holder) {
    // Takes back the hold that publishFrame() gave GStreamer.
    std::unique_ptr<std::shared_ptr<gpu::Texture>>(
        static_cast<std::shared_ptr<gpu::Texture>*>(holder));
}

// GStreamer's error as one line: its message, and the system's reason where it gives one.
std::string errorText(GstMessage* message) {
    GError* problem = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &problem, &debug);
    std::string text = problem ? problem->message : "unknown error";
    // filesink says "No space left on the resource" without the system's words.
    if (problem && g_error_matches(problem, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NO_SPACE_LEFT))
        text = g_strerror(ENOSPC);
    if (!text.empty() && text.back() == '.') text.pop_back();
    // The reason, where there is one, follows GStreamer's "file(line): function (): element:".
    const std::string reason = debug ? debug : "";
    if (reason.find('\n') != std::string::npos) text += ": " + reason.substr(reason.find('\n') + 1);
    g_clear_error(&problem);
    g_free(debug);
    return text;
}

std::string minutesAndSeconds(std::chrono::nanoseconds length) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(length).count();
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace

GstRecorder::GstRecorder(std::string path, std::shared_ptr<LogSink> log,
                         std::shared_ptr<RunLoop> runLoop, std::function<void()> ended)
    : path_(std::move(path)),
      log_(std::move(log)),
      runLoop_(std::move(runLoop)),
      ended_(std::move(ended)) {}

std::unique_ptr<GstRecorder> GstRecorder::create(
    const std::string& path, RecordingSettings::Quality quality, std::shared_ptr<LogSink> log,
    std::shared_ptr<RunLoop> runLoop, std::function<void()> ended, std::string& failure) {
    if (!startGStreamerWith(requiredElements, failure)) return nullptr;
    const bool lossless = quality == RecordingSettings::Quality::lossless;
    // Not live and never synchronised: each buffer carries its own time, and the file is written
    // as fast as the encoder goes. The file's size, set at the first frame, follows the scaler,
    // which keeps a later size's aspect with borders.
    const std::string description =
        "appsrc name=source format=time do-timestamp=false block=false max-bytes=0 "
        "! videoconvert ! videoscale add-borders=true ! capsfilter name=size ! " +
        chooseH264Encoder(keyInterval,
                          lossless ? H264Purpose::losslessRecording : H264Purpose::recording) +
        " ! h264parse ! matroskamux name=mux ! filesink name=file buffer-mode=unbuffered";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline || error) {
        failure =
            std::string("the recording pipeline does not build: ") + (error ? error->message : "?");
        g_clear_error(&error);
        if (pipeline) gst_object_unref(pipeline);
        return nullptr;
    }
    auto recorder =
        std::make_unique<GstRecorder>(path, std::move(log), std::move(runLoop), std::move(ended));
    recorder->pipeline_ = pipeline;
    recorder->lossless_ = lossless;
    GstBin* bin = GST_BIN(pipeline);
    recorder->source_ = gst_bin_get_by_name(bin, "source");
    gst_object_unref(recorder->source_);
    recorder->size_ = gst_bin_get_by_name(bin, "size");
    gst_object_unref(recorder->size_);
    GstElement* file = gst_bin_get_by_name(bin, "file");
    g_object_set(file, "location", path.c_str(), nullptr);
    gst_object_unref(file);
    // The muxer's own default, written out: it finishes the file (duration, index) at the end
    // of the stream, and a file cut off by a kill still opens up to its last whole cluster
    // (half a second), where streamable=true would leave a finished file without duration.
    GstElement* mux = gst_bin_get_by_name(bin, "mux");
    g_object_set(mux, "streamable", FALSE, "writing-app", "LM Vuzadivirur", nullptr);
    gst_object_unref(mux);

    // The file is opened as the pipeline starts: a failure is on the bus, unhandled so far.
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        failure = message ? errorText(message) : "the pipeline does not start";
        if (message) gst_message_unref(message);
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        recorder->stopping_ = recorder->reported_ = true;  // nothing to finish
        return nullptr;
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus*, GstMessage* message, gpointer data) {
            auto* self = static_cast<GstRecorder*>(data);
            const auto type = GST_MESSAGE_TYPE(message);
            GstStreamStatusType status{};
            // Runs on the streaming thread that starts; x264's own threads, made from it, inherit
            // its niceness.
            if (type == GST_MESSAGE_STREAM_STATUS &&
                (gst_message_parse_stream_status(message, &status, nullptr),
                 status == GST_STREAM_STATUS_TYPE_ENTER)) {
                ::setpriority(PRIO_PROCESS, id_t(::gettid()), encodingNiceness);
            }
            if (type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) {
                const std::string text = type == GST_MESSAGE_ERROR ? errorText(message) : "";
                {
                    std::lock_guard lock(self->mutex_);
                    if (type == GST_MESSAGE_EOS) self->endOfStream_ = true;
                    if (self->busFailure_.empty()) self->busFailure_ = text;
                }
                self->changed_.notify_all();
                if (type == GST_MESSAGE_ERROR) {
                    self->runLoop_->post([self, alive = std::weak_ptr<bool>(self->alive_), text] {
                        if (alive.lock()) self->onFailure(text);
                    });
                }
            }
            return GST_BUS_DROP;
        },
        recorder.get(), nullptr);
    gst_object_unref(bus);
    GstRecorder* self = recorder.get();
    recorder->minuteTimer_ =
        recorder->runLoop_->scheduleRepeating(60s, [self] { self->onMinute(); });
    recorder->log_->line("⏺️ Recording to " + path);
    return recorder;
}

GstRecorder::~GstRecorder() {
    stop();
    if (finisher_.joinable()) finisher_.join();
    report(false);
    if (!pipeline_) return;
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline_);
}

void GstRecorder::publishFrame(std::shared_ptr<gpu::Texture> texture) {
    const auto now = std::chrono::steady_clock::now();
    if (stopping_ || !texture) return;
    if (gst_app_src_get_current_level_buffers(GST_APP_SRC(source_)) >= maxQueuedFrames) {
        ++droppedThisMinute_;
        ++droppedTotal_;
        return;
    }
    if (recorded_ == 0) {
        start_ = now;
        // H.264 in 4:2:0 takes only even sizes; the scaler's borders keep the aspect.
        const gint width = gint(texture->width() + texture->width() % 2);
        const gint height = gint(texture->height() + texture->height() % 2);
        GstCaps* caps =
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, lossless_ ? "Y444" : "I420",
                                "width", G_TYPE_INT, width, "height", G_TYPE_INT, height,
                                "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
        g_object_set(size_, "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
    if (texture->width() != width_ || texture->height() != height_) {
        // A new size goes in order with the frames. BGRx: H.264 carries no alpha. No rate: each
        // frame's time is its own.
        width_ = texture->width();
        height_ = texture->height();
        GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width",
                                            G_TYPE_INT, gint(width_), "height", G_TYPE_INT,
                                            gint(height_), "framerate", GST_TYPE_FRACTION, 0, 1,
                                            "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
        gst_app_src_set_caps(GST_APP_SRC(source_), caps);
        gst_caps_unref(caps);
    }
    // The steady clock never goes back; two frames in the same nanosecond are kept apart.
    auto stamp = std::chrono::duration_cast<std::chrono::nanoseconds>(now - start_);
    if (recorded_ > 0 && stamp <= lastStamp_) stamp = lastStamp_ + 1us;
    const gsize size = texture->bytesPerRow() * texture->height();
    auto holder = std::make_unique<std::shared_ptr<gpu::Texture>>(texture);
    GstBuffer* buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY,
                                                    const_cast<uint8_t*>(texture->contents()), size,
                                                    0, size, holder.release(), releaseTexture);
    if (texture->bytesPerRow() != size_t{width_} * 4) {
        gsize offsets[GST_VIDEO_MAX_PLANES] = {0};
        gint strides[GST_VIDEO_MAX_PLANES] = {gint(texture->bytesPerRow())};
        gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_FORMAT_BGRx,
                                       width_, height_, 1, offsets, strides);
    }
    GST_BUFFER_PTS(buffer) = GstClockTime(stamp.count());
    gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);
    lastStamp_ = stamp;
    ++recorded_;
}

void GstRecorder::stop() {
    if (stopping_) return;
    stopping_ = true;
    minuteTimer_.reset();
    finisher_ = std::thread([this, drain = recorded_ > 0] { finish(drain); });
}

void GstRecorder::finish(bool drain) {
    Outcome outcome = Outcome::failed;
    if (drain) {
        gst_app_src_end_of_stream(GST_APP_SRC(source_));
        std::unique_lock lock(mutex_);
        const bool ended = changed_.wait_for(
            lock, finishDeadline, [this] { return endOfStream_ || !busFailure_.empty(); });
        outcome = !ended                                ? Outcome::timedOut
                  : endOfStream_ && busFailure_.empty() ? Outcome::saved
                                                        : Outcome::failed;
    }
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    {
        std::lock_guard lock(mutex_);
        outcome_ = outcome;
    }
    runLoop_->post([this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock()) report(true);
    });
}

void GstRecorder::onFailure(const std::string& reason) {
    if (stopping_) return;  // the finishing thread reports it
    failure_ = reason;
    log_->line("❌ Recording to " + path_ + " stopped: " + reason);
    stopping_ = true;
    minuteTimer_.reset();
    finisher_ = std::thread([this] { finish(false); });
}

void GstRecorder::report(bool notify) {
    if (reported_ || !stopping_) return;
    // At once: the finishing thread's last act was to post this.
    if (finisher_.joinable()) finisher_.join();
    reported_ = true;
    Outcome outcome;
    std::string busFailure;
    {
        std::lock_guard lock(mutex_);
        outcome = outcome_;
        busFailure = busFailure_;
    }
    if (!failure_.empty()) {
        // Logged as it happened.
    } else if (recorded_ == 0) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
        log_->line("⏹️ Recording stopped before any frame came; " + path_ + " not kept");
    } else if (outcome == Outcome::saved) {
        log_->line("⏹️ Recording saved: " + path_ + " (" + std::to_string(recorded_) +
                   " frames, " + minutesAndSeconds(lastStamp_) + ")");
    } else if (outcome == Outcome::timedOut) {
        log_->line("❌ Recording to " + path_ +
                   " not finished within 10 s; the file may lack its last frames");
    } else {
        log_->line("❌ Recording to " + path_ + " not finished: " + busFailure);
    }
    if (notify && ended_) {
        // Last: the owner may let this recorder go from here.
        const auto ended = ended_;
        ended();
    }
}

void GstRecorder::onMinute() {
    if (droppedThisMinute_ > 0) {
        log_->line("⚠️ Recording: " + std::to_string(droppedThisMinute_) +
                   " frames dropped in the last minute, the encoder could not keep up");
    }
    droppedThisMinute_ = 0;
}
