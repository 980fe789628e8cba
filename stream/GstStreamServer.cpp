#include "stream/GstStreamServer.h"

#include <gio/gio.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

using namespace std::chrono_literals;

// At most this many frames wait for the encoder; a later one is dropped.
constexpr guint64 maxQueuedFrames = 2;
// The rate the encoder is told until the host's has been measured.
constexpr uint32_t assumedRate = 60;

std::string addressText(void* address) {
    auto* inet = G_IS_INET_SOCKET_ADDRESS(address) ? G_INET_SOCKET_ADDRESS(address) : nullptr;
    if (!inet) return "a client";
    gchar* host = g_inet_address_to_string(g_inet_socket_address_get_address(inet));
    std::string text =
        std::string(host) + ":" + std::to_string(g_inet_socket_address_get_port(inet));
    g_free(host);
    return text;
}

void releaseTexture(gpointer holder) {
    // Takes back the hold that push() gave GStreamer.
    std::unique_ptr<std::shared_ptr<gpu::Texture>>(
        static_cast<std::shared_ptr<gpu::Texture>*>(holder));
}

}  // namespace

GstStreamServer::GstStreamServer(std::shared_ptr<LogSink> log, std::shared_ptr<RunLoop> runLoop)
    : log_(std::move(log)), runLoop_(std::move(runLoop)) {}

std::unique_ptr<GstStreamServer> GstStreamServer::create(const StreamSettings& settings,
                                                         std::shared_ptr<LogSink> log,
                                                         std::shared_ptr<RunLoop> runLoop,
                                                         std::string& failure) {
    auto pipeline =
        StreamPipeline::build(settings, settings.fps ? settings.fps : assumedRate, failure);
    if (!pipeline) return nullptr;
    auto server = std::make_unique<GstStreamServer>(std::move(log), std::move(runLoop));
    if (settings.fps) server->interval_ = std::chrono::nanoseconds(1s) / settings.fps;
    server->maxRate_ = settings.fps;
    server->rate_ = settings.fps ? std::min(settings.fps, assumedRate) : assumedRate;
    server->pipeline_ = std::move(pipeline);
    GstElement* sink = server->pipeline_->sink();
    g_signal_connect(sink, "caller-added", G_CALLBACK(onCallerAdded), server.get());
    g_signal_connect(sink, "caller-removed", G_CALLBACK(onCallerRemoved), server.get());
    if (settings.mode == StreamSettings::Mode::caller) {
        server->sink_ = sink;
        server->listener_ = settings.endpoint();
    }

    GstBus* bus = gst_element_get_bus(server->pipeline_->pipeline());
    gst_bus_set_sync_handler(
        bus,
        [](GstBus*, GstMessage* message, gpointer data) {
            auto* self = static_cast<GstStreamServer*>(data);
            // A caller's srtsink warns as it drops a lost connection and calls again, which may
            // get through before the next look at its statistics.
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_WARNING && self->sink_ &&
                GST_MESSAGE_SRC(message) == GST_OBJECT(self->sink_))
                self->postToMain([self] { self->setConnected(false); });
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
                GError* problem = nullptr;
                gchar* debug = nullptr;
                gst_message_parse_error(message, &problem, &debug);
                std::string text = problem ? problem->message : "unknown error";
                if (!text.empty() && text.back() == '.') text.pop_back();
                // The reason follows GStreamer's "file(line): function (): element:" line.
                const std::string reason = debug ? debug : "";
                if (!reason.empty()) text += ": " + reason.substr(reason.find('\n') + 1);
                g_clear_error(&problem);
                g_free(debug);
                self->postToMain([self, text] { self->onError(text); });
            }
            return GST_BUS_DROP;
        },
        server.get(), nullptr);
    gst_object_unref(bus);

    gst_element_set_state(server->pipeline_->pipeline(), GST_STATE_PLAYING);
    GstStreamServer* self = server.get();
    server->timer_ = server->runLoop_->scheduleRepeating(1s, [self] { self->onTick(); });
    return server;
}

GstStreamServer::~GstStreamServer() {
    timer_.reset();
    // Joins GStreamer's threads: no callback into this server runs after this. The callbacks
    // read pipeline_, so it is stopped here while still held, and released after.
    if (pipeline_) gst_element_set_state(pipeline_->pipeline(), GST_STATE_NULL);
}

void GstStreamServer::publishFrame(std::shared_ptr<gpu::Texture> texture) { push(texture); }

void GstStreamServer::push(const std::shared_ptr<gpu::Texture>& texture) {
    const auto now = std::chrono::steady_clock::now();
    hostRate_.frame(FrameRateMeter::seconds(now));
    if (stopped_ || backoff_.waiting() || !texture) return;
    if (!withinRate(now)) return;
    if (gst_app_src_get_current_level_buffers(GST_APP_SRC(pipeline_->source())) >=
        maxQueuedFrames) {
        ++droppedThisMinute_;
        ++droppedTotal_;
        return;
    }
    if (texture->width() != width_ || texture->height() != height_ || rate_ != capsRate_) {
        // A new size goes in order with the frames; the encoder starts over with a key frame.
        // BGRx: H.264 carries no alpha, and videoconvert has a fast path from it, not from BGRA.
        // A rate, not 0/1: x264 takes a variable rate's frames one frame late.
        width_ = texture->width();
        height_ = texture->height();
        capsRate_ = rate_;
        GstCaps* caps =
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
                                gint(width_), "height", G_TYPE_INT, gint(height_), "framerate",
                                GST_TYPE_FRACTION, gint(rate_), 1, nullptr);
        gst_app_src_set_caps(GST_APP_SRC(pipeline_->source()), caps);
        gst_caps_unref(caps);
    }
    const gsize size = texture->bytesPerRow() * texture->height();
    auto holder = std::make_unique<std::shared_ptr<gpu::Texture>>(texture);
    GstBuffer* buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY,
                                                    const_cast<uint8_t*>(texture->contents()), size,
                                                    0, size, holder.release(), releaseTexture);
    gst_app_src_push_buffer(GST_APP_SRC(pipeline_->source()), buffer);
}

bool GstStreamServer::withinRate(std::chrono::steady_clock::time_point now) {
    if (interval_ == interval_.zero()) return true;
    // Half a frame's time early still counts as on time: the host's frames come unevenly.
    const auto slack = interval_ / 2;
    if (now < nextDue_ - slack) return false;
    nextDue_ = std::max(nextDue_, now - slack) + interval_;
    return true;
}

void GstStreamServer::stop() {
    stopped_ = true;
    timer_.reset();
    if (pipeline_) gst_element_set_state(pipeline_->pipeline(), GST_STATE_NULL);
}

void GstStreamServer::postToMain(std::function<void()> job) {
    runLoop_->post([alive = std::weak_ptr<bool>(alive_), job = std::move(job)] {
        if (alive.lock()) job();
    });
}

void GstStreamServer::onError(const std::string& failure) {
    if (stopped_ || backoff_.waiting()) return;
    // Down now, up again after the back-off: a listener listens anew, a caller calls anew.
    gst_element_set_state(pipeline_->pipeline(), GST_STATE_NULL);
    width_ = height_ = 0;
    if (backoff_.fail(failure, std::chrono::steady_clock::now())) {
        log_->line("⚠️ Network stream: " + failure +
                   (sink_ ? "; calling again" : "; waiting for the next client"));
    }
}

void GstStreamServer::onTick() {
    const auto now = std::chrono::steady_clock::now();
    // Half a tick early counts: the timer's ticks and the failure's moment are not aligned.
    if (backoff_.restartDue(now + 500ms)) {
        gst_element_set_state(pipeline_->pipeline(), GST_STATE_PLAYING);
        ++restarts_;
    }
    // The encoder is told the host's rate (at most --stream-fps) once it has been a tenth off
    // for three seconds on end: each new rate has the encoder start over, which a start, a pause
    // or a busy moment is not worth.
    const uint32_t hostRate = hostRate_.wholeRate(FrameRateMeter::seconds(now)).value_or(0);
    const uint32_t rate = maxRate_ ? std::min(maxRate_, hostRate) : hostRate;
    const bool off = rate > 0 && std::abs(int(rate) - int(rate_)) * 10 > int(rate_);
    offTicks_ = off ? offTicks_ + 1 : 0;
    if (offTicks_ >= 3) rate_ = rate, offTicks_ = 0;
    if (sink_) watchConnection();
    if (++ticksThisMinute_ < 60) return;
    ticksThisMinute_ = 0;
    if (droppedThisMinute_ > 0) {
        log_->line("⚠️ Network stream: " + std::to_string(droppedThisMinute_) +
                   " frames dropped in the last minute, the encoder could not keep up");
    }
    droppedThisMinute_ = 0;
}

void GstStreamServer::watchConnection() {
    // srtsink has no signal for a caller's connection; its statistics hold the connection's
    // figures only while it stands.
    GstStructure* stats = nullptr;
    if (!backoff_.waiting()) g_object_get(sink_, "stats", &stats, nullptr);
    setConnected(stats && gst_structure_has_field(stats, "packets-sent"));
    if (stats) gst_structure_free(stats);
}

void GstStreamServer::setConnected(bool connected) {
    if (connected == connected_) return;
    connected_ = connected;
    if (connected) backoff_.succeed();
    log_->line(connected ? "📡 Stream connected to " + listener_
                         : "📡 Stream connection to " + listener_ + " lost");
}

void GstStreamServer::onCallerAdded(GstElement*, int, void* address, GstStreamServer* self) {
    // A client starts decoding at a key frame: give it one now rather than at the next interval.
    GstEvent* keyFrame = gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0);
    gst_element_send_event(self->pipeline_->encoder(), keyFrame);
    self->postToMain([self, who = addressText(address)] {
        self->backoff_.succeed();
        self->log_->line("📡 Stream client connected: " + who);
    });
}

void GstStreamServer::onCallerRemoved(GstElement*, int, void* address, GstStreamServer* self) {
    self->postToMain(
        [self, who = addressText(address)] { self->log_->line("📡 Stream client left: " + who); });
}
