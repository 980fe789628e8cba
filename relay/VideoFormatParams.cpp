#include "relay/VideoFormatParams.h"

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/buffers.h>
#include <spa/param/format.h>
#include <spa/param/param.h>
#include <spa/param/video/raw.h>
#include <spa/pod/builder.h>

namespace videoFormatParams {

namespace {

// Relayed frames come at the host's pace; consumers are told to expect up to this rate.
constexpr spa_fraction defaultMaxFramerate{60, 1};
constexpr spa_fraction lowestMaxFramerate{1, 1};
constexpr spa_fraction highestMaxFramerate{240, 1};

constexpr int32_t defaultBufferCount = 4;
constexpr int32_t minBufferCount = 2;
constexpr int32_t maxBufferCount = 8;

}  // namespace

spa_pod* enumFormat(spa_pod_builder& builder, FrameSize size) {
    spa_pod_frame object{};
    spa_pod_frame choice{};
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_prop(&builder, SPA_FORMAT_mediaType, 0);
    spa_pod_builder_id(&builder, SPA_MEDIA_TYPE_video);
    spa_pod_builder_prop(&builder, SPA_FORMAT_mediaSubtype, 0);
    spa_pod_builder_id(&builder, SPA_MEDIA_SUBTYPE_raw);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_builder_id(&builder, SPA_VIDEO_FORMAT_BGRA);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_size, 0);
    spa_pod_builder_rectangle(&builder, size.width, size.height);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_framerate, 0);
    spa_pod_builder_fraction(&builder, 0, 1);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_maxFramerate, 0);
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_fraction(&builder, defaultMaxFramerate.num, defaultMaxFramerate.denom);
    spa_pod_builder_fraction(&builder, lowestMaxFramerate.num, lowestMaxFramerate.denom);
    spa_pod_builder_fraction(&builder, highestMaxFramerate.num, highestMaxFramerate.denom);
    spa_pod_builder_pop(&builder, &choice);
    return static_cast<spa_pod*>(spa_pod_builder_pop(&builder, &object));
}

spa_pod* buffers(spa_pod_builder& builder, FrameSize size) {
    spa_pod_frame object{};
    spa_pod_frame choice{};
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
    spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_buffers, 0);
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_int(&builder, defaultBufferCount);
    spa_pod_builder_int(&builder, minBufferCount);
    spa_pod_builder_int(&builder, maxBufferCount);
    spa_pod_builder_pop(&builder, &choice);
    spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_blocks, 0);
    spa_pod_builder_int(&builder, 1);
    spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_size, 0);
    spa_pod_builder_int(&builder, static_cast<int32_t>(size.bytes()));
    spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_stride, 0);
    spa_pod_builder_int(&builder, static_cast<int32_t>(size.stride()));
    spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_dataType, 0);
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Flags, 0);
    spa_pod_builder_int(&builder, 1 << SPA_DATA_MemFd);
    spa_pod_builder_pop(&builder, &choice);
    return static_cast<spa_pod*>(spa_pod_builder_pop(&builder, &object));
}

spa_pod* headerMeta(spa_pod_builder& builder) {
    spa_pod_frame object{};
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
    spa_pod_builder_prop(&builder, SPA_PARAM_META_type, 0);
    spa_pod_builder_id(&builder, SPA_META_Header);
    spa_pod_builder_prop(&builder, SPA_PARAM_META_size, 0);
    spa_pod_builder_int(&builder, static_cast<int32_t>(sizeof(spa_meta_header)));
    return static_cast<spa_pod*>(spa_pod_builder_pop(&builder, &object));
}

}  // namespace videoFormatParams
