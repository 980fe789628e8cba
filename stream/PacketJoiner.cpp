#include "stream/PacketJoiner.h"

#include <gst/gst.h>

namespace {

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

}  // namespace

void joinPacketsLeaving(GstElement* muxer) {
    GstPad* muxOut = gst_element_get_static_pad(muxer, "src");
    gst_pad_add_probe(muxOut, GST_PAD_PROBE_TYPE_BUFFER_LIST, joinPackets, nullptr, nullptr);
    gst_object_unref(muxOut);
}
