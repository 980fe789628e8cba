#include "tests/relay/PipeWireTestConsumer.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>

#include <array>
#include <cstring>

std::unique_ptr<PipeWireTestConsumer> PipeWireTestConsumer::connect(const std::string& targetNode,
                                                                    Options options,
                                                                    std::string& failure) {
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
            auto* self = static_cast<PipeWireTestConsumer*>(data);
            spa_video_info_raw info{};
            if (id == SPA_PARAM_Format && param && spa_format_video_raw_parse(param, &info) >= 0) {
                self->width_ = info.size.width;
                self->height_ = info.size.height;
            }
        };
        e.process = [](void* self) { static_cast<PipeWireTestConsumer*>(self)->process(); };
        return e;
    }();
    pw_init(nullptr, nullptr);
    auto consumer = std::make_unique<PipeWireTestConsumer>(Token{}, std::move(options));
    consumer->threadLoop_ = pw_thread_loop_new("relay-test-consumer", nullptr);
    if (!consumer->threadLoop_ || pw_thread_loop_start(consumer->threadLoop_) < 0) {
        failure = "no thread loop";
        return nullptr;
    }
    pw_thread_loop_lock(consumer->threadLoop_);
    consumer->stream_ =
        pw_stream_new_simple(pw_thread_loop_get_loop(consumer->threadLoop_), "relay-test-consumer",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                               "Capture", PW_KEY_MEDIA_ROLE, "Camera",
                                               PW_KEY_TARGET_OBJECT, targetNode.c_str(), nullptr),
                             &events, consumer.get());
    // BGRA with neither size nor rate: whatever the source announces.
    std::array<uint8_t, 256> storage{};
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage.data(), storage.size());
    spa_video_info_raw bgra{};
    bgra.format = SPA_VIDEO_FORMAT_BGRA;
    const spa_pod* params[] = {spa_format_video_raw_build(&builder, SPA_PARAM_EnumFormat, &bgra)};
    const auto flags =
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
    const int result = consumer->stream_ ? pw_stream_connect(consumer->stream_, PW_DIRECTION_INPUT,
                                                             PW_ID_ANY, flags, params, 1)
                                         : -errno;
    pw_thread_loop_unlock(consumer->threadLoop_);
    if (result < 0) {
        failure = std::string("no stream: ") + std::strerror(-result);
        return nullptr;
    }
    return consumer;
}

PipeWireTestConsumer::~PipeWireTestConsumer() {
    if (!threadLoop_) return;
    pw_thread_loop_stop(threadLoop_);
    if (stream_) pw_stream_destroy(stream_);
    pw_thread_loop_destroy(threadLoop_);
}

PipeWireTestConsumer::Seen PipeWireTestConsumer::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

void PipeWireTestConsumer::process() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (!buffer) return;
    const spa_data& plane = buffer->buffer->datas[0];
    if (plane.data && plane.chunk && plane.chunk->size > 0) {
        Frame frame{
            width_, height_, plane.type == SPA_DATA_MemFd, {}, std::chrono::steady_clock::now()};
        const size_t rowBytes = size_t{width_} * 4;
        const auto stride = static_cast<size_t>(plane.chunk->stride);
        const bool fits = rowBytes > 0 && plane.chunk->stride > 0 && stride >= rowBytes &&
                          stride * height_ <= plane.chunk->size &&
                          uint64_t{plane.chunk->offset} + plane.chunk->size <= plane.maxsize;
        const auto* rows = static_cast<const uint8_t*>(plane.data) + plane.chunk->offset;
        if (fits && options_.observer) options_.observer(frame, rows);
        for (uint32_t y = 0; fits && options_.keepPixels && y < height_; ++y) {
            frame.pixels.insert(frame.pixels.end(), rows + y * stride,
                                rows + y * stride + rowBytes);
        }
        std::lock_guard lock(mutex_);
        ++(fits ? seen_.frames : seen_.malformed);
        if (fits) seen_.last = std::move(frame);
    }
    pw_stream_queue_buffer(stream_, buffer);
}
