#include "relay/VideoSourceStream.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "relay/CameraName.h"
#include "relay/MemFdBuffer.h"
#include "relay/PipeWireCore.h"
#include "relay/VideoFormatParams.h"

namespace {

// Room for the offer: one format object for each relayed format at each size offered.
constexpr size_t paramBytes = 32768;

}  // namespace

struct VideoSourceStream::Callbacks {
    static void stateChanged(void* data, pw_stream_state old, pw_stream_state state,
                             const char* error) {
        auto* self = static_cast<VideoSourceStream*>(data);
        if (state == PW_STREAM_STATE_STREAMING) {
            self->sendPending();
        } else if (state == PW_STREAM_STATE_ERROR) {
            if (self->failed_) self->failed_(error ? error : "stream error");
        } else if (state == PW_STREAM_STATE_UNCONNECTED && old != PW_STREAM_STATE_UNCONNECTED) {
            // The stream is never disconnected while listened to: its node was taken away.
            if (self->failed_) self->failed_("its node was removed");
        }
    }

    static void paramChanged(void* data, uint32_t id, const spa_pod* param) {
        if (id == SPA_PARAM_Format) static_cast<VideoSourceStream*>(data)->formatChanged(param);
    }

    static void addBuffer(void* data, pw_buffer* buffer) {
        static_cast<VideoSourceStream*>(data)->addBuffer(buffer);
    }

    static void removeBuffer(void* data, pw_buffer* buffer) {
        auto* self = static_cast<VideoSourceStream*>(data);
        self->memory_.erase(buffer);
        std::erase(self->held_, buffer);
    }

    static const pw_stream_events& events() {
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = &stateChanged;
            e.param_changed = &paramChanged;
            e.add_buffer = &addBuffer;
            e.remove_buffer = &removeBuffer;
            return e;
        }();
        return events;
    }
};

std::unique_ptr<VideoSourceStream> VideoSourceStream::create(PipeWireCore& core,
                                                             const std::string& name,
                                                             FrameSize offered, uint32_t rate,
                                                             FailureHandler failed,
                                                             std::string& failure) {
    const std::string nodeName = cameraName::nodeName(name);
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
        PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, nodeName.c_str(),
        PW_KEY_NODE_DESCRIPTION, name.c_str(), nullptr);
    if (!properties) {
        failure = std::string("cannot make stream properties: ") + std::strerror(errno);
        return nullptr;
    }
    // The stream takes the properties, even when it cannot be made.
    pw_stream* stream = pw_stream_new(core.get(), name.c_str(), properties);
    if (!stream) {
        failure = std::string("cannot make a PipeWire stream: ") + std::strerror(errno);
        return nullptr;
    }
    auto source =
        std::make_unique<VideoSourceStream>(Token{}, stream, offered, rate, std::move(failed));
    if (!source->connect(failure)) return nullptr;
    return source;
}

VideoSourceStream::VideoSourceStream(Token, pw_stream* stream, FrameSize offered, uint32_t rate,
                                     FailureHandler failed)
    : stream_(stream),
      listener_(std::make_unique<spa_hook>()),
      offered_(offered),
      rate_(rate),
      failed_(std::move(failed)) {
    spa_zero(*listener_);
    pw_stream_add_listener(stream_, listener_.get(), &Callbacks::events(), this);
}

VideoSourceStream::~VideoSourceStream() {
    // No callbacks into a half-destroyed object: the listener goes first.
    spa_hook_remove(listener_.get());
    pw_stream_destroy(stream_);
    // The buffers' memory goes after the stream that used it.
    memory_.clear();
}

bool VideoSourceStream::connect(std::string& failure) {
    std::vector<uint8_t> storage(paramBytes);
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, storage.data(), static_cast<uint32_t>(storage.size()));
    auto params = videoFormatParams::enumFormats(builder, offered_, rate_);
    const auto flags =
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_ALLOC_BUFFERS);
    const int result = pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags,
                                         params.data(), static_cast<uint32_t>(params.size()));
    if (result < 0) {
        failure = std::string("cannot announce the PipeWire stream: ") + std::strerror(-result);
        return false;
    }
    return true;
}

uint32_t VideoSourceStream::nodeId() const { return pw_stream_get_node_id(stream_); }

bool VideoSourceStream::isStreaming() const {
    return pw_stream_get_state(stream_, nullptr) == PW_STREAM_STATE_STREAMING;
}

void VideoSourceStream::offer(FrameSize size, uint32_t rate) {
    if (size == offered_ && rate == rate_) return;
    offered_ = size;
    rate_ = rate;
    std::vector<uint8_t> storage(paramBytes);
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, storage.data(), static_cast<uint32_t>(storage.size()));
    auto params = videoFormatParams::enumFormats(builder, offered_, rate_);
    pw_stream_update_params(stream_, params.data(), static_cast<uint32_t>(params.size()));
}

void VideoSourceStream::submit(RelayFrame frame) {
    pending_ = std::move(frame);
    sendPending();
}

bool VideoSourceStream::canSend(const RelayFrame& frame) const {
    return negotiated_ && (scaled_ || negotiated_->size == frame.size()) && !awaitingBuffers_ &&
           !memory_.empty();
}

void VideoSourceStream::sendPending() {
    if (!pending_ || !canSend(*pending_) || !isStreaming()) return;
    // Queued here rather than in a process callback: PipeWire asks for one only while it holds
    // a free buffer, and the buffers lent to textures are held here.
    if (queueFrame()) pw_stream_trigger_process(stream_);
}

void VideoSourceStream::formatChanged(const spa_pod* format) {
    negotiated_.reset();
    awaitingBuffers_ = true;
    if (!format) return;  // the consumer went away
    uint32_t mediaType = 0;
    uint32_t mediaSubtype = 0;
    if (spa_format_parse(format, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
        return;
    }
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(format, &info) < 0) return;
    // Any rate the consumer took is fine: frames go out as the host delivers them.
    negotiated_ = FrameLayout::make(info.format, FrameSize{info.size.width, info.size.height},
                                    info.color_range == SPA_VIDEO_COLOR_RANGE_0_255);
    if (!negotiated_) return;
    // A consumer that took a size other than the host's keeps it whatever the host's; one that
    // took the host's follows it, and a frame of another size waits for the renegotiation.
    scaled_ = negotiated_->size != offered_;

    std::array<uint8_t, 1024> storage{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, storage.data(), storage.size());
    const spa_pod* params[] = {videoFormatParams::buffers(builder, *negotiated_),
                               videoFormatParams::headerMeta(builder)};
    pw_stream_update_params(stream_, params, 2);
}

void VideoSourceStream::addBuffer(pw_buffer* buffer) {
    awaitingBuffers_ = false;  // buffers come after the format they are made for
    spa_data& plane = buffer->buffer->datas[0];
    // The stream allocates nothing itself: each buffer gets a memfd of the agreed frame size.
    if (!negotiated_ || !(plane.type & (1u << SPA_DATA_MemFd))) return;
    std::string failure;
    auto memory = MemFdBuffer::create(negotiated_->bytes, failure);
    if (!memory) {
        // A buffer without memory would leave the consumer without frames, and nobody told.
        if (failed_) failed_("no memory for a frame: " + failure);
        return;
    }
    plane.type = SPA_DATA_MemFd;
    plane.flags = SPA_DATA_FLAG_READABLE;  // sealed against consumers' writes
    plane.fd = memory->fd();
    plane.mapoffset = 0;
    plane.maxsize = static_cast<uint32_t>(memory->size());
    plane.data = memory->bytes();
    memory_[buffer] = std::move(memory);
}

bool VideoSourceStream::lendsFor(FrameSize size) const {
    return negotiated_ && !awaitingBuffers_ && negotiated_->size == size &&
           (negotiated_->format == SPA_VIDEO_FORMAT_BGRA ||
            negotiated_->format == SPA_VIDEO_FORMAT_BGRx) &&
           negotiated_->stride() == size_t{size.width} * 4 && isStreaming();
}

namespace {

// Whether no texture holds the memory any longer. A texture let go on another thread has
// finished reading it by then.
bool unlent(const std::shared_ptr<MemFdBuffer>& memory) {
    if (memory.use_count() != 1) return false;
    std::atomic_thread_fence(std::memory_order_acquire);
    return true;
}

}  // namespace

void VideoSourceStream::takeBackBuffers() {
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(stream_)) held_.push_back(buffer);
}

std::vector<pw_buffer*>::iterator VideoSourceStream::findHeld(const MemoryTest& test) {
    return std::ranges::find_if(held_, [&](pw_buffer* buffer) {
        const auto found = memory_.find(buffer);
        return test(found == memory_.end() ? nullptr : &found->second);
    });
}

pw_buffer* VideoSourceStream::take(std::vector<pw_buffer*>::iterator held) {
    if (held == held_.end()) return nullptr;
    pw_buffer* buffer = *held;
    held_.erase(held);
    return buffer;
}

std::shared_ptr<uint8_t> VideoSourceStream::lend(FrameSize size) {
    if (!lendsFor(size)) return nullptr;
    takeBackBuffers();
    const auto held = findHeld([](const Memory* memory) { return memory && unlent(*memory); });
    if (held == held_.end()) return nullptr;
    const Memory& memory = memory_.at(*held);
    // Shares ownership of the memory, which outlives the stream's buffer if need be.
    return std::shared_ptr<uint8_t>(memory, memory->bytes());
}

pw_buffer* VideoSourceStream::takeLentBuffer(const RelayFrame& frame) {
    if (!lendsFor(frame.size())) return nullptr;
    return take(findHeld([&](const Memory* memory) {
        return memory && (*memory)->bytes() == frame.texture->contents();
    }));
}

pw_buffer* VideoSourceStream::takeWritableBuffer() {
    takeBackBuffers();
    return take(findHeld([](const Memory* memory) { return !memory || unlent(*memory); }));
}

bool VideoSourceStream::queueFrame() {
    const RelayFrame frame = std::move(*pending_);
    pending_.reset();  // sent now or dropped: a consumer that holds every buffer misses it

    // A frame copied straight into a buffer's memory leaves as it is.
    pw_buffer* buffer = takeLentBuffer(frame);
    const bool inPlace = buffer != nullptr;
    if (!buffer) buffer = takeWritableBuffer();
    if (!buffer) return false;
    spa_buffer* spaBuffer = buffer->buffer;
    spa_data& plane = spaBuffer->datas[0];
    const FrameLayout& layout = *negotiated_;
    if (!plane.data || plane.maxsize < layout.bytes || !plane.chunk) {
        if (plane.chunk) plane.chunk->size = 0;
        pw_stream_queue_buffer(stream_, buffer);
        return true;
    }
    if (!inPlace) {
        layout.write(frame.texture->contents(), frame.texture->bytesPerRow(), frame.size(),
                     static_cast<uint8_t*>(plane.data), scratch_);
    }
    plane.chunk->offset = 0;
    plane.chunk->size = static_cast<uint32_t>(layout.bytes);
    plane.chunk->stride = static_cast<int32_t>(layout.stride());
    plane.chunk->flags = SPA_CHUNK_FLAG_NONE;

    auto* header = static_cast<spa_meta_header*>(
        spa_buffer_find_meta_data(spaBuffer, SPA_META_Header, sizeof(spa_meta_header)));
    if (header) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        header->flags = 0;
        header->offset = 0;
        header->pts = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
        header->dts_offset = 0;
        header->seq = sequence_++;
    }
    pw_stream_queue_buffer(stream_, buffer);
    ++sent_;
    return true;
}
