#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "relay/FrameLayout.h"
#include "relay/FrameSize.h"
#include "relay/RelayFrame.h"

class MemFdBuffer;
class PipeWireCore;
struct pw_buffer;
struct pw_stream;
struct spa_hook;
struct spa_pod;

// The PipeWire video source node that carries relayed frames: an output stream that drives its
// graph, so that each submitted frame runs one process cycle. It must go before its core.
class VideoSourceStream {
    struct Token {};

  public:
    // Called, inside the loop's dispatch, when the stream fails for good.
    using FailureHandler = std::function<void(const std::string& reason)>;

    // The node announces itself under `name` offering frames of `offered` at `rate` frames a
    // second first; none, with the reason in `failure`, when it cannot be made.
    static std::unique_ptr<VideoSourceStream> create(PipeWireCore& core, const std::string& name,
                                                     FrameSize offered, uint32_t rate,
                                                     FailureHandler failed, std::string& failure);
    VideoSourceStream(Token, pw_stream* stream, FrameSize offered, uint32_t rate,
                      FailureHandler failed);
    ~VideoSourceStream();
    VideoSourceStream(const VideoSourceStream&) = delete;
    VideoSourceStream& operator=(const VideoSourceStream&) = delete;

    FrameSize offeredSize() const { return offered_; }
    // Offers frames of `size` at `rate` first from now on; a linked consumer renegotiates.
    void offer(FrameSize size, uint32_t rate);
    // True while a consumer takes frames.
    bool isStreaming() const;
    // Sends `frame` in a process cycle, which it triggers at once when the stream has buffers of
    // the frame's size; otherwise the frame waits for them (a renegotiation), replacing any
    // frame that was waiting.
    void submit(RelayFrame frame);
    // Sends a waiting frame once buffers of its size are there; called after loop dispatches.
    void sendPending();
    // Frames copied or converted into buffers and queued so far.
    uint64_t sentFrames() const { return sent_; }

  private:
    bool connect(std::string& failure);
    bool canSend(const RelayFrame& frame) const;
    void addBuffer(pw_buffer* buffer);
    void fillBuffer();
    void formatChanged(const spa_pod* format);

    struct Callbacks;  // the stream's event handlers, which need PipeWire's types
    friend struct Callbacks;

    pw_stream* stream_;
    std::unique_ptr<spa_hook> listener_;
    FrameSize offered_;
    uint32_t rate_;
    FailureHandler failed_;
    std::optional<FrameLayout> negotiated_;
    std::optional<RelayFrame> pending_;
    // The memory behind each buffer of the stream, released with the buffer.
    std::map<pw_buffer*, std::unique_ptr<MemFdBuffer>> memory_;
    bool awaitingBuffers_ = true;  // a format is agreed, its buffers are not there yet
    uint64_t sent_ = 0;
    uint64_t sequence_ = 0;
};
