#include "relay/VideoFormatParams.h"

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/buffers.h>
#include <spa/param/format.h>
#include <spa/param/param.h>
#include <spa/param/video/raw.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <array>

namespace videoFormatParams {

namespace {

constexpr std::array<uint32_t, 5> formats{SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_BGRx,
                                          SPA_VIDEO_FORMAT_I420, SPA_VIDEO_FORMAT_NV12,
                                          SPA_VIDEO_FORMAT_YUY2};
// Rates consumers commonly ask for. Browsers' capture code takes the highest one offered as the
// camera's rate, so none above the host's rate or the default is offered.
constexpr std::array<uint32_t, 12> commonRates{60, 50, 48, 30, 25, 24, 20, 15, 12, 10, 5, 1};
constexpr uint32_t highestRate = 240;
// Widths of frames consumers commonly ask for, offered below the host's at its aspect. Browsers
// list only sizes offered one by one, not a range.
constexpr std::array<uint32_t, 8> commonWidths{2560, 1920, 1600, 1280, 960, 640, 480, 320};
// The smallest size the range of any other size starts at.
constexpr uint32_t smallestSide = 16;

constexpr int32_t defaultBufferCount = 4;
constexpr int32_t minBufferCount = 2;
constexpr int32_t maxBufferCount = 8;

void addId(spa_pod_builder& builder, uint32_t key, uint32_t id) {
    spa_pod_builder_prop(&builder, key, 0);
    spa_pod_builder_id(&builder, id);
}

void addRates(spa_pod_builder& builder, uint32_t rate) {
    rate = std::clamp(rate, 1u, highestRate);
    spa_pod_frame choice{};
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_framerate, 0);
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Enum, 0);
    spa_pod_builder_fraction(&builder, rate, 1);  // the default, then every choice
    spa_pod_builder_fraction(&builder, rate, 1);
    for (const uint32_t common : commonRates) {
        if (common != rate && common <= std::max(rate, defaultRate)) {
            spa_pod_builder_fraction(&builder, common, 1);
        }
    }
    spa_pod_builder_pop(&builder, &choice);
}

// A format of exactly `size`, or with `anySmaller` of any size up to it (`size` the default).
spa_pod* enumFormat(spa_pod_builder& builder, uint32_t format, FrameSize size, uint32_t rate,
                    bool anySmaller = false) {
    spa_pod_frame object{};
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    addId(builder, SPA_FORMAT_mediaType, SPA_MEDIA_TYPE_video);
    addId(builder, SPA_FORMAT_mediaSubtype, SPA_MEDIA_SUBTYPE_raw);
    addId(builder, SPA_FORMAT_VIDEO_format, format);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_size, 0);
    if (anySmaller) {
        spa_pod_frame range{};
        spa_pod_builder_push_choice(&builder, &range, SPA_CHOICE_Range, 0);
        spa_pod_builder_rectangle(&builder, size.width, size.height);
        spa_pod_builder_rectangle(&builder, std::min(size.width, smallestSide),
                                  std::min(size.height, smallestSide));
        spa_pod_builder_rectangle(&builder, size.width, size.height);
        spa_pod_builder_pop(&builder, &range);
    } else {
        spa_pod_builder_rectangle(&builder, size.width, size.height);
    }
    addRates(builder, rate);
    if (format != SPA_VIDEO_FORMAT_BGRA && format != SPA_VIDEO_FORMAT_BGRx) {
        addId(builder, SPA_FORMAT_VIDEO_colorMatrix, SPA_VIDEO_COLOR_MATRIX_BT601);
        if (FrameLayout::make(format, size, true)) {
            spa_pod_frame choice{};
            spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_colorRange, 0);
            spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Enum, 0);
            spa_pod_builder_id(&builder, SPA_VIDEO_COLOR_RANGE_16_235);
            spa_pod_builder_id(&builder, SPA_VIDEO_COLOR_RANGE_16_235);
            spa_pod_builder_id(&builder, SPA_VIDEO_COLOR_RANGE_0_255);
            spa_pod_builder_pop(&builder, &choice);
        } else {
            addId(builder, SPA_FORMAT_VIDEO_colorRange, SPA_VIDEO_COLOR_RANGE_16_235);
        }
    }
    return static_cast<spa_pod*>(spa_pod_builder_pop(&builder, &object));
}

}  // namespace

std::vector<const spa_pod*> enumFormats(spa_pod_builder& builder, FrameSize size, uint32_t rate) {
    std::vector<const spa_pod*> params;
    const auto add = [&](FrameSize each, bool anySmaller) {
        for (const uint32_t format : formats) {
            if (const spa_pod* param = enumFormat(builder, format, each, rate, anySmaller)) {
                params.push_back(param);
            }
        }
    };
    add(size, false);
    for (const uint32_t width : commonWidths) {
        if (width >= size.width) continue;
        // Heights rounded to even ones, which every format lays out whole.
        const auto height = static_cast<uint32_t>((uint64_t{width} * size.height + size.width) /
                                                  (2 * uint64_t{size.width}) * 2);
        if (height >= 2) add(FrameSize{width, height}, false);
    }
    add(size, true);
    return params;
}

spa_pod* buffers(spa_pod_builder& builder, const FrameLayout& layout) {
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
    spa_pod_builder_int(&builder, static_cast<int32_t>(layout.bytes));
    spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_stride, 0);
    spa_pod_builder_int(&builder, static_cast<int32_t>(layout.stride()));
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
