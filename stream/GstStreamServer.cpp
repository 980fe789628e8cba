#include "stream/GstStreamServer.h"

#include <gio/gio.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

using namespace std::chrono_literals;

struct Element {
    const char* name;
    const char* package;
};
constexpr std::array<Element, 7> requiredElements{{
    {"appsrc", "gstreamer1.0-plugins-base"},
    {"videoconvert", "gstreamer1.0-plugins-base"},
    {"videoscale", "gstreamer1.0-plugins-base"},
    {"x264enc", "gstreamer1.0-plugins-ugly"},
    {"h264parse", "gstreamer1.0-plugins-bad"},
    {"mpegtsmux", "gstreamer1.0-plugins-bad"},
    {"srtsink", "gstreamer1.0-plugins-bad"},
}};
// At most this many frames wait for the encoder; a later one is dropped.
constexpr guint64 maxQueuedFrames = 2;
// The rate the encoder is told until the host's has been measured.
constexpr uint32_t assumedRate = 60;

// The first hardware H.264 encoder that opens on this machine, with low-latency settings, else
// x264 with them.
std::string encoderDescription(uint32_t keyInterval) {
    const std::string k = std::to_string(keyInterval);
    const std::array<std::pair<const char*, std::string>, 3> hardware{{
        {"vaapih264enc", "vaapih264enc rate-control=cbr bitrate=8000 keyframe-period=" + k},
        {"nvh264enc",
         "nvh264enc preset=low-latency-hq zerolatency=true bitrate=8000 gop-size=" + k},
        {"v4l2h264enc", "v4l2h264enc"},
    }};
    for (const auto& [name, description] : hardware) {
        GstElement* probe = gst_element_factory_make(name, nullptr);
        if (!probe) continue;
        const bool opens =
            gst_element_set_state(probe, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
        gst_element_set_state(probe, GST_STATE_NULL);
        gst_object_unref(probe);
        if (opens) return description + " name=encoder";
    }
    return "x264enc name=encoder tune=zerolatency speed-preset=ultrafast bitrate=8000 "
           "key-int-max=" +
           k;
}

std::string addressText(void* address) {
    auto* inet = G_IS_INET_SOCKET_ADDRESS(address) ? G_INET_SOCKET_ADDRESS(address) : nullptr;
    if (!inet) return "a client";
    gchar* host = g_inet_address_to_string(g_inet_socket_address_get_address(inet));
    std::string text =
        std::string(host) + ":" + std::to_string(g_inet_socket_address_get_port(inet));
    g_free(host);
    return text;
}

// mpegtsmux without alignment hands over each frame's packets as soon as the frame is in, but as
// a list of 188-byte buffers, which srtsink would send one datagram each. Joined, srtsink cuts
// them into full 1316-byte datagrams (7 packets) with only the frame's tail shorter. (With
// alignment=7 the muxer itself held a frame's last packets back until the next frame came.)
GstPadProbeReturn joinPackets(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
    const guint count = gst_buffer_list_length(list);
    if (count < 2) return GST_PAD_PROBE_OK;
    GstBuffer* joined =
        gst_buffer_new_allocate(nullptr, gst_buffer_list_calculate_size(list), nullptr);
    GstMapInfo map;
    gst_buffer_map(joined, &map, GST_MAP_WRITE);
    gsize at = 0;
    for (guint i = 0; i < count; ++i) {
        GstBuffer* packet = gst_buffer_list_get(list, i);
        at += gst_buffer_extract(packet, 0, map.data + at, gst_buffer_get_size(packet));
    }
    gst_buffer_unmap(joined, &map);
    // Timestamps only: the first packet's header flag would have srtsink drop the whole frame
    // as a repeat of the stream headers.
    gst_buffer_copy_into(joined, gst_buffer_list_get(list, 0), GST_BUFFER_COPY_TIMESTAMPS, 0, -1);
    GstBufferList* one = gst_buffer_list_new_sized(1);
    gst_buffer_list_add(one, joined);
    gst_buffer_list_unref(list);
    GST_PAD_PROBE_INFO_DATA(info) = one;
    return GST_PAD_PROBE_OK;
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
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        failure = std::string("GStreamer does not start: ") + (error ? error->message : "?");
        g_clear_error(&error);
        return nullptr;
    }
    for (const auto& element : requiredElements) {
        GstElementFactory* factory = gst_element_factory_find(element.name);
        if (!factory) {
            failure = std::string("GStreamer's ") + element.name +
                      " element is missing (install the Debian package " + element.package + ")";
            return nullptr;
        }
        gst_object_unref(factory);
    }

    const uint32_t keyInterval = settings.fps ? settings.fps : assumedRate;
    std::string raw = "video/x-raw,format=I420";
    if (settings.width) {
        raw += ",width=" + std::to_string(settings.width) +
               ",height=" + std::to_string(settings.height);
    }
    const std::string description =
        "appsrc name=source is-live=true format=time do-timestamp=true block=false max-bytes=0 "
        "! videoconvert ! videoscale ! " +
        raw + " ! " + encoderDescription(keyInterval) +
        " ! video/x-h264,profile=constrained-baseline ! h264parse config-interval=-1 "
        "! mpegtsmux name=mux alignment=0 ! srtsink name=sink wait-for-connection=false "
        "sync=false";

    auto server = std::make_unique<GstStreamServer>(std::move(log), std::move(runLoop));
    if (settings.fps) server->interval_ = std::chrono::nanoseconds(1s) / settings.fps;
    server->maxRate_ = settings.fps;
    server->rate_ = settings.fps ? std::min(settings.fps, assumedRate) : assumedRate;
    server->pipeline_ = gst_parse_launch(description.c_str(), &error);
    if (!server->pipeline_ || error) {
        failure =
            std::string("the stream pipeline does not build: ") + (error ? error->message : "?");
        g_clear_error(&error);
        return nullptr;
    }
    GstBin* bin = GST_BIN(server->pipeline_);
    server->source_ = gst_bin_get_by_name(bin, "source");
    server->encoder_ = gst_bin_get_by_name(bin, "encoder");
    GstElement* sink = gst_bin_get_by_name(bin, "sink");
    // The borrowed elements live as long as the pipeline, which holds them.
    gst_object_unref(server->source_);
    gst_object_unref(server->encoder_);
    // GStreamer calls out unless told otherwise; ours listens unless told otherwise.
    std::string uri = settings.uri;
    if (uri.find("mode=") == std::string::npos)
        uri += (uri.find('?') == std::string::npos ? "?" : "&") + std::string("mode=listener");
    g_object_set(sink, "uri", uri.c_str(), nullptr);
    g_signal_connect(sink, "caller-added", G_CALLBACK(onCallerAdded), server.get());
    g_signal_connect(sink, "caller-removed", G_CALLBACK(onCallerRemoved), server.get());
    if (uri.find("mode=caller") != std::string::npos) {
        server->sink_ = sink;
        // Without its query, which may hold the passphrase.
        server->listener_ = uri.substr(6, uri.find('?') - 6);
    }
    gst_object_unref(sink);
    GstElement* mux = gst_bin_get_by_name(bin, "mux");
    GstPad* muxOut = gst_element_get_static_pad(mux, "src");
    gst_pad_add_probe(muxOut, GST_PAD_PROBE_TYPE_BUFFER_LIST, joinPackets, nullptr, nullptr);
    gst_object_unref(muxOut);
    gst_object_unref(mux);

    GstBus* bus = gst_element_get_bus(server->pipeline_);
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
                gst_message_parse_error(message, &problem, nullptr);
                std::string text = problem ? problem->message : "unknown error";
                if (!text.empty() && text.back() == '.') text.pop_back();
                g_clear_error(&problem);
                self->postToMain([self, text] { self->onError(text); });
            }
            return GST_BUS_DROP;
        },
        server.get(), nullptr);
    gst_object_unref(bus);

    gst_element_set_state(server->pipeline_, GST_STATE_PLAYING);
    GstStreamServer* self = server.get();
    server->lastTick_ = std::chrono::steady_clock::now();
    server->timer_ = server->runLoop_->scheduleRepeating(1s, [self] { self->onTick(); });
    return server;
}

GstStreamServer::~GstStreamServer() {
    timer_.reset();
    if (pipeline_) {
        // Joins GStreamer's threads: no callback into this server runs after this.
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(pipeline_);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(pipeline_);
    }
}

void GstStreamServer::publishFrame(std::shared_ptr<gpu::Texture> texture) { push(texture); }

void GstStreamServer::push(const std::shared_ptr<gpu::Texture>& texture) {
    ++hostFrames_;
    if (stopped_ || restartDue_ || !texture) return;
    if (!withinRate(std::chrono::steady_clock::now())) return;
    if (gst_app_src_get_current_level_buffers(GST_APP_SRC(source_)) >= maxQueuedFrames) {
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
        gst_app_src_set_caps(GST_APP_SRC(source_), caps);
        gst_caps_unref(caps);
    }
    const gsize size = texture->bytesPerRow() * texture->height();
    auto holder = std::make_unique<std::shared_ptr<gpu::Texture>>(texture);
    GstBuffer* buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY,
                                                    const_cast<uint8_t*>(texture->contents()), size,
                                                    0, size, holder.release(), releaseTexture);
    gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);
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
    if (pipeline_) gst_element_set_state(pipeline_, GST_STATE_NULL);
}

void GstStreamServer::postToMain(std::function<void()> job) {
    runLoop_->post([alive = std::weak_ptr<bool>(alive_), job = std::move(job)] {
        if (alive.lock()) job();
    });
}

void GstStreamServer::onError(const std::string& message) {
    if (stopped_ || restartDue_) return;
    if (!errorLogged_)
        log_->line("⚠️ Network stream: " + message +
                   (sink_ ? "; calling again" : "; waiting for the next client"));
    errorLogged_ = true;
    // Down now, up again at the next tick: a listener listens anew, a caller calls anew.
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    width_ = height_ = 0;
    restartDue_ = true;
}

void GstStreamServer::onTick() {
    if (restartDue_) {
        restartDue_ = false;
        gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    }
    // The encoder is told the host's rate (at most --stream-fps) once it has been a tenth off
    // for three seconds on end: each new rate has the encoder start over, which a start, a pause
    // or a busy moment is not worth.
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - lastTick_).count();
    const auto hostRate = uint32_t(std::lround(double(hostFrames_) / seconds));
    const uint32_t rate = maxRate_ ? std::min(maxRate_, hostRate) : hostRate;
    const bool off = rate > 0 && std::abs(int(rate) - int(rate_)) * 10 > int(rate_);
    offTicks_ = off ? offTicks_ + 1 : 0;
    if (offTicks_ >= 3) rate_ = rate, offTicks_ = 0;
    hostFrames_ = 0;
    lastTick_ = now;
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
    if (!restartDue_) g_object_get(sink_, "stats", &stats, nullptr);
    setConnected(stats && gst_structure_has_field(stats, "packets-sent"));
    if (stats) gst_structure_free(stats);
}

void GstStreamServer::setConnected(bool connected) {
    if (connected == connected_) return;
    connected_ = connected;
    if (connected) errorLogged_ = false;
    log_->line(connected ? "📡 Stream connected to " + listener_
                         : "📡 Stream connection to " + listener_ + " lost");
}

void GstStreamServer::onCallerAdded(GstElement*, int, void* address, GstStreamServer* self) {
    // A client starts decoding at a key frame: give it one now rather than at the next interval.
    gst_element_send_event(
        self->encoder_, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
    self->postToMain([self, who = addressText(address)] {
        self->errorLogged_ = false;
        self->log_->line("📡 Stream client connected: " + who);
    });
}

void GstStreamServer::onCallerRemoved(GstElement*, int, void* address, GstStreamServer* self) {
    self->postToMain(
        [self, who = addressText(address)] { self->log_->line("📡 Stream client left: " + who); });
}
