#include "stream/StreamPipeline.h"

#include <gst/gst.h>

#include <array>

#include "stream/GstElements.h"
#include "stream/H264EncoderChoice.h"
#include "stream/PacketJoiner.h"

namespace {

constexpr std::array<GstElementNeed, 8> requiredElements{{
    {"appsrc", "gstreamer1.0-plugins-base"},
    {"videobox", "gstreamer1.0-plugins-good"},
    {"videoconvert", "gstreamer1.0-plugins-base"},
    {"videoscale", "gstreamer1.0-plugins-base"},
    {"x264enc", "gstreamer1.0-plugins-ugly"},
    {"h264parse", "gstreamer1.0-plugins-bad"},
    {"mpegtsmux", "gstreamer1.0-plugins-bad"},
    {"srtsink", "gstreamer1.0-plugins-bad"},
}};
// x264 and most hardware encoders take only even sizes: an odd host size gets a black column or
// row of padding, the picture itself unscaled. Set here, on GStreamer's thread, as the new
// size's caps reach the box, so the frames of the old size still queued keep their padding.
GstPadProbeReturn padToEvenSize(GstPad*, GstPadProbeInfo* info, gpointer box) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    gint width = 0, height = 0;
    const GstStructure* video = gst_caps_get_structure(caps, 0);
    gst_structure_get_int(video, "width", &width);
    gst_structure_get_int(video, "height", &height);
    g_object_set(box, "right", -(width % 2), "bottom", -(height % 2), nullptr);
    return GST_PAD_PROBE_OK;
}

// The sink's settings from the parsed ones, never from text the user wrote. The uri places host
// and port only; setting it resets the rest, so mode, the listener's own address, passphrase,
// latency and key length follow as properties, leaving nothing to srtsink's defaults (a caller,
// or a listener on 0.0.0.0:7001, unencrypted).
void configureSink(GstElement* sink, const StreamSettings& settings) {
    const std::string uri = "srt://" + settings.endpoint();
    g_object_set(sink, "uri", uri.c_str(), nullptr);
    const bool listener = settings.mode == StreamSettings::Mode::listener;
    gst_util_set_object_arg(G_OBJECT(sink), "mode", listener ? "listener" : "caller");
    if (listener) {
        g_object_set(sink, "localaddress", settings.host.c_str(), "localport", guint(settings.port),
                     nullptr);
    }
    g_object_set(sink, "latency", gint(settings.latency), nullptr);
    if (!settings.passphrase.empty())
        g_object_set(sink, "passphrase", settings.passphrase.c_str(), nullptr);
    if (settings.keyLength) {
        gst_util_set_object_arg(G_OBJECT(sink), "pbkeylen",
                                std::to_string(settings.keyLength).c_str());
    }
}

// The element named `name` in `bin`, borrowed: the bin holds it as long as it lives.
GstElement* borrow(GstBin* bin, const char* name) {
    GstElement* element = gst_bin_get_by_name(bin, name);
    gst_object_unref(element);
    return element;
}

}  // namespace

std::unique_ptr<StreamPipeline> StreamPipeline::build(const StreamSettings& settings,
                                                      uint32_t keyInterval, std::string& failure) {
    if (!startGStreamerWith(requiredElements, failure)) return nullptr;

    std::string raw = "video/x-raw,format=I420";
    if (settings.width) {
        raw += ",width=" + std::to_string(settings.width) +
               ",height=" + std::to_string(settings.height);
    }
    const std::string description =
        "appsrc name=source is-live=true format=time do-timestamp=true block=false max-bytes=0 "
        "! videobox name=box ! videoconvert ! videoscale ! " +
        raw + " ! " + chooseH264Encoder(keyInterval) +
        " ! video/x-h264,profile=constrained-baseline ! h264parse config-interval=-1 "
        "! mpegtsmux name=mux alignment=0 ! srtsink name=sink wait-for-connection=false "
        "sync=false";

    GError* error = nullptr;
    GstElement* launched = gst_parse_launch(description.c_str(), &error);
    auto built = launched ? std::make_unique<StreamPipeline>(launched) : nullptr;
    if (!built || error) {
        failure =
            std::string("the stream pipeline does not build: ") + (error ? error->message : "?");
        g_clear_error(&error);
        return nullptr;
    }
    GstBin* bin = GST_BIN(launched);
    built->source_ = borrow(bin, "source");
    built->encoder_ = borrow(bin, "encoder");
    built->sink_ = borrow(bin, "sink");
    configureSink(built->sink_, settings);
    joinPacketsLeaving(borrow(bin, "mux"));
    GstElement* box = borrow(bin, "box");
    GstPad* boxIn = gst_element_get_static_pad(box, "sink");
    gst_pad_add_probe(boxIn, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, padToEvenSize, box, nullptr);
    gst_object_unref(boxIn);
    return built;
}

StreamPipeline::StreamPipeline(GstElement* pipeline) : pipeline_(pipeline) {}

StreamPipeline::~StreamPipeline() {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline_);
}
