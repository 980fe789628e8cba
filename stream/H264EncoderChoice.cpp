#include "stream/H264EncoderChoice.h"

#include <gst/gst.h>

#include <array>
#include <utility>

std::string chooseH264Encoder(uint32_t keyInterval) {
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
