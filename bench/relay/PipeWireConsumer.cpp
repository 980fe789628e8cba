#include "PipeWireConsumer.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>

#include <algorithm>
#include <array>

std::unique_ptr<PipeWireConsumer> PipeWireConsumer::connect(const std::string& targetNode,
                                                            uint32_t format, Observer observer,
                                                            uint32_t width, uint32_t height) {
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
            auto* self = static_cast<PipeWireConsumer*>(data);
            spa_video_info_raw info{};
            if (id == SPA_PARAM_Format && param && spa_format_video_raw_parse(param, &info) >= 0) {
                self->width_ = info.size.width;
                self->height_ = info.size.height;
            }
        };
        e.process = [](void* self) { static_cast<PipeWireConsumer*>(self)->process(); };
        return e;
    }();
    pw_init(nullptr, nullptr);
    const size_t bytesPerPixel = format == SPA_VIDEO_FORMAT_BGRA ? 4 : 1;
    auto consumer = std::make_unique<PipeWireConsumer>(Token{}, bytesPerPixel, std::move(observer));
    consumer->threadLoop_ = pw_thread_loop_new("relay-bench-consumer", nullptr);
    if (!consumer->threadLoop_ || pw_thread_loop_start(consumer->threadLoop_) < 0) return nullptr;
    pw_thread_loop_lock(consumer->threadLoop_);
    consumer->stream_ =
        pw_stream_new_simple(pw_thread_loop_get_loop(consumer->threadLoop_), "relay-bench-consumer",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                               "Capture", PW_KEY_MEDIA_ROLE, "Camera",
                                               PW_KEY_TARGET_OBJECT, targetNode.c_str(), nullptr),
                             &events, consumer.get());
    // The format with no rate and, unless asked for, no size: whatever the source announces.
    std::array<uint8_t, 256> storage{};
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage.data(), storage.size());
    spa_video_info_raw wanted{};
    wanted.format = static_cast<spa_video_format>(format);
    wanted.size = spa_rectangle{width, height};
    const spa_pod* params[] = {spa_format_video_raw_build(&builder, SPA_PARAM_EnumFormat, &wanted)};
    const auto flags =
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
    const bool connected =
        consumer->stream_ &&
        pw_stream_connect(consumer->stream_, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) >= 0;
    pw_thread_loop_unlock(consumer->threadLoop_);
    return connected ? std::move(consumer) : nullptr;
}

PipeWireConsumer::~PipeWireConsumer() {
    if (!threadLoop_) return;
    pw_thread_loop_stop(threadLoop_);
    if (stream_) pw_stream_destroy(stream_);
    pw_thread_loop_destroy(threadLoop_);
}

void PipeWireConsumer::process() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (!buffer) return;
    const spa_data& plane = buffer->buffer->datas[0];
    const spa_chunk* chunk = plane.chunk;
    if (plane.data && chunk && chunk->size > 0) {
        const size_t rowBytes = width_ * bytesPerPixel_, stride = std::max(chunk->stride, 0);
        const bool fits = rowBytes > 0 && stride >= rowBytes && stride * height_ <= chunk->size &&
                          uint64_t{chunk->offset} + chunk->size <= plane.maxsize;
        const auto* rows = static_cast<const uint8_t*>(plane.data) + chunk->offset;
        if (fits) {
            observer_(width_, height_, rows);
            ++frames_;
        }
    }
    pw_stream_queue_buffer(stream_, buffer);
}
