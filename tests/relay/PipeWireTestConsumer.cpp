#include "tests/relay/PipeWireTestConsumer.h"

#include <pipewire/pipewire.h>
#include <pipewire/thread-loop.h>
#include <spa/buffer/meta.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <array>
#include <cstring>

namespace {

// BGRA of any size and rate: the consumer follows whatever the source announces.
const spa_pod* anySizeBgra(spa_pod_builder& b) {
    spa_pod_frame object{};
    spa_pod_frame choice{};
    spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_prop(&b, SPA_FORMAT_mediaType, 0);
    spa_pod_builder_id(&b, SPA_MEDIA_TYPE_video);
    spa_pod_builder_prop(&b, SPA_FORMAT_mediaSubtype, 0);
    spa_pod_builder_id(&b, SPA_MEDIA_SUBTYPE_raw);
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_builder_id(&b, SPA_VIDEO_FORMAT_BGRA);
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_size, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_rectangle(&b, 1920, 1080);
    spa_pod_builder_rectangle(&b, 1, 1);
    spa_pod_builder_rectangle(&b, 16384, 16384);
    spa_pod_builder_pop(&b, &choice);
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_framerate, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_fraction(&b, 0, 1);
    spa_pod_builder_fraction(&b, 0, 1);
    spa_pod_builder_fraction(&b, 1000, 1);
    spa_pod_builder_pop(&b, &choice);
    return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object));
}

}  // namespace

struct PipeWireTestConsumer::Callbacks {
    static void stateChanged(void* data, pw_stream_state, pw_stream_state state, const char*) {
        auto* self = static_cast<PipeWireTestConsumer*>(data);
        std::lock_guard lock(self->mutex_);
        self->streaming_ = state == PW_STREAM_STATE_STREAMING;
    }
    static void paramChanged(void* data, uint32_t id, const spa_pod* param) {
        if (id == SPA_PARAM_Format) static_cast<PipeWireTestConsumer*>(data)->formatChanged(param);
    }
    static void process(void* data) { static_cast<PipeWireTestConsumer*>(data)->process(); }
    static const pw_stream_events& events() {
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = &stateChanged;
            e.param_changed = &paramChanged;
            e.process = &process;
            return e;
        }();
        return events;
    }
};

std::unique_ptr<PipeWireTestConsumer> PipeWireTestConsumer::connect(const std::string& targetNode,
                                                                    Options options,
                                                                    std::string& failure) {
    pw_init(nullptr, nullptr);
    auto consumer = std::make_unique<PipeWireTestConsumer>(Token{}, std::move(options));
    consumer->threadLoop_ = pw_thread_loop_new("relay-test-consumer", nullptr);
    if (!consumer->threadLoop_) {
        failure = "no thread loop";
        return nullptr;
    }
    consumer->context_ = pw_context_new(pw_thread_loop_get_loop(consumer->threadLoop_), nullptr, 0);
    if (!consumer->context_) {
        failure = "no context";
        return nullptr;
    }
    if (pw_thread_loop_start(consumer->threadLoop_) < 0) {
        failure = "thread loop does not start";
        return nullptr;
    }
    pw_thread_loop_lock(consumer->threadLoop_);
    consumer->core_ = pw_context_connect(consumer->context_, nullptr, 0);
    if (!consumer->core_) {
        pw_thread_loop_unlock(consumer->threadLoop_);
        failure = std::string("no daemon: ") + std::strerror(errno);
        return nullptr;
    }
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
        PW_KEY_TARGET_OBJECT, targetNode.c_str(), nullptr);
    consumer->stream_ = pw_stream_new(consumer->core_, "relay-test-consumer", properties);
    if (!consumer->stream_) {
        pw_thread_loop_unlock(consumer->threadLoop_);
        failure = "no stream";
        return nullptr;
    }
    pw_stream_add_listener(consumer->stream_, consumer->listener_.get(), &Callbacks::events(),
                           consumer.get());
    std::array<uint8_t, 1024> storage{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, storage.data(), storage.size());
    const spa_pod* params[] = {anySizeBgra(builder)};
    const auto flags =
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
    const int result =
        pw_stream_connect(consumer->stream_, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1);
    pw_thread_loop_unlock(consumer->threadLoop_);
    if (result < 0) {
        failure = std::string("connect: ") + std::strerror(-result);
        return nullptr;
    }
    return consumer;
}

PipeWireTestConsumer::PipeWireTestConsumer(Token, Options options)
    : options_(std::move(options)), listener_(std::make_unique<spa_hook>()) {
    spa_zero(*listener_);
}

PipeWireTestConsumer::~PipeWireTestConsumer() {
    if (threadLoop_) pw_thread_loop_stop(threadLoop_);
    if (stream_) {
        spa_hook_remove(listener_.get());
        pw_stream_destroy(stream_);
    }
    if (core_) pw_core_disconnect(core_);
    if (context_) pw_context_destroy(context_);
    if (threadLoop_) pw_thread_loop_destroy(threadLoop_);
}

void PipeWireTestConsumer::formatChanged(const spa_pod* format) {
    std::lock_guard lock(mutex_);
    if (!format) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(format, &info) < 0) return;
    width_ = info.size.width;
    height_ = info.size.height;
    ++formatChanges_;

    // Asks for the header that carries each buffer's sequence number.
    std::array<uint8_t, 256> storage{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, storage.data(), storage.size());
    spa_pod_frame object{};
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
    spa_pod_builder_prop(&builder, SPA_PARAM_META_type, 0);
    spa_pod_builder_id(&builder, SPA_META_Header);
    spa_pod_builder_prop(&builder, SPA_PARAM_META_size, 0);
    spa_pod_builder_int(&builder, static_cast<int32_t>(sizeof(spa_meta_header)));
    const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &object))};
    pw_stream_update_params(stream_, params, 1);
}

void PipeWireTestConsumer::process() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (!buffer) return;
    const auto arrival = std::chrono::steady_clock::now();
    spa_buffer* spaBuffer = buffer->buffer;
    const spa_data& plane = spaBuffer->datas[0];
    Frame frame;
    frame.arrival = arrival;
    {
        std::lock_guard lock(mutex_);
        frame.width = width_;
        frame.height = height_;
    }
    if (plane.data && plane.chunk && plane.chunk->size > 0) {
        frame.stride = plane.chunk->stride;
        frame.sharedMemory = plane.type == SPA_DATA_MemFd;
        auto* header = static_cast<spa_meta_header*>(
            spa_buffer_find_meta_data(spaBuffer, SPA_META_Header, sizeof(spa_meta_header)));
        if (header) frame.sequence = header->seq;
        const auto* rows = static_cast<const uint8_t*>(plane.data) + plane.chunk->offset;
        const size_t rowBytes = size_t{frame.width} * 4;
        // The relay sends tightly packed rows of exactly the agreed size.
        const bool fits = size_t(frame.stride) == rowBytes && rowBytes > 0 &&
                          uint64_t(frame.stride) * frame.height == plane.chunk->size &&
                          plane.chunk->offset + uint64_t{plane.chunk->size} <= plane.maxsize;
        if (!fits) {
            std::lock_guard lock(mutex_);
            ++malformed_;
        } else {
            if (options_.observer) options_.observer(frame, rows);
            if (options_.keepPixels) {
                frame.pixels.resize(rowBytes * frame.height);
                for (uint32_t y = 0; y < frame.height; ++y) {
                    std::memcpy(frame.pixels.data() + y * rowBytes, rows + size_t(y) * frame.stride,
                                rowBytes);
                }
            }
            std::lock_guard lock(mutex_);
            last_ = std::move(frame);
            ++count_;
        }
    }
    pw_stream_queue_buffer(stream_, buffer);
}

size_t PipeWireTestConsumer::frameCount() const {
    std::lock_guard lock(mutex_);
    return count_;
}

std::optional<PipeWireTestConsumer::Frame> PipeWireTestConsumer::lastFrame() const {
    std::lock_guard lock(mutex_);
    return last_;
}

std::pair<uint32_t, uint32_t> PipeWireTestConsumer::formatSize() const {
    std::lock_guard lock(mutex_);
    return {width_, height_};
}

size_t PipeWireTestConsumer::malformedFrames() const {
    std::lock_guard lock(mutex_);
    return malformed_;
}

size_t PipeWireTestConsumer::formatChanges() const {
    std::lock_guard lock(mutex_);
    return formatChanges_;
}

bool PipeWireTestConsumer::isStreaming() const {
    std::lock_guard lock(mutex_);
    return streaming_;
}
