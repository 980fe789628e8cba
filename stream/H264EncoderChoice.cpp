#include "stream/H264EncoderChoice.h"

#include <gst/gst.h>

#include <array>
#include <utility>

namespace {

// x264 for a recording: veryfast is the fastest preset that keeps its motion search and
// lookahead, and constant quality 20 looks like the source; no zerolatency, as a file may wait.
constexpr const char* x264Recording = "x264enc speed-preset=veryfast pass=qual quantizer=20 ";
constexpr const char* x264Lossless = "x264enc speed-preset=veryfast pass=quant quantizer=0 ";

}  // namespace

std::string chooseH264Encoder(uint32_t keyInterval, H264Purpose purpose) {
    const std::string k = std::to_string(keyInterval);
    if (purpose == H264Purpose::losslessRecording)
        return std::string(x264Lossless) + "name=encoder key-int-max=" + k;
    const bool stream = purpose == H264Purpose::stream;
    const std::array<std::pair<const char*, std::string>, 3> hardware{{
        {"vaapih264enc", stream ? "vaapih264enc rate-control=cbr bitrate=8000 keyframe-period=" + k
                                : "vaapih264enc rate-control=cqp init-qp=20 keyframe-period=" + k},
        {"nvh264enc",
         stream ? "nvh264enc preset=low-latency-hq zerolatency=true bitrate=8000 gop-size=" + k
                : "nvh264enc preset=hq rc-mode=constqp qp-const=20 gop-size=" + k},
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
    if (!stream) return std::string(x264Recording) + "name=encoder key-int-max=" + k;
    return "x264enc name=encoder tune=zerolatency speed-preset=ultrafast bitrate=8000 "
           "key-int-max=" +
           k;
}
