#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
// graph, so that each submitted frame, once queued, runs one graph cycle. It must go before its
// core.
class VideoSourceStream {
    struct Token {};

  public:
    // Called, inside the loop's dispatch, when the stream fails for good.
    using FailureHandler = std::function<void(const std::string& reason)>;

    // The node announces itself as `name` (its node.description, and a node.name made of it)
    // offering frames of `offered` at `rate` frames a second first; none, with the reason in
    // `failure`, when it cannot be made.
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
    // The node's id in the daemon's registry; SPA_ID_INVALID until it is there.
    uint32_t nodeId() const;
    // True while a consumer takes frames.
    bool isStreaming() const;
    // Sends `frame` in a graph cycle, which it triggers at once when the stream has buffers of
    // the frame's size, or of the smaller size its consumer chose (the frame is then scaled);
    // otherwise the frame waits for them (a renegotiation), replacing any frame that was waiting.
    void submit(RelayFrame frame);
    // Sends a waiting frame once buffers of its size are there; called after loop dispatches.
    void sendPending();
    // Frames copied or converted into buffers and queued so far.
    uint64_t sentFrames() const { return sent_; }
    // The memory of a buffer nobody uses, for a texture of `size` whose frame is then sent from
    // there without a copy; none unless the consumer takes BGRA or BGRx rows of that size.
    std::shared_ptr<uint8_t> lend(FrameSize size);

  private:
    bool connect(std::string& failure);
    bool canSend(const RelayFrame& frame) const;
    void addBuffer(pw_buffer* buffer);
    // Puts the waiting frame into a buffer and queues it; false when no buffer is free.
    bool queueFrame();
    bool lendsFor(FrameSize size) const;
    // The held buffer whose memory `frame` was copied into, if any, taken from those held.
    pw_buffer* takeLentBuffer(const RelayFrame& frame);
    // A buffer no texture's texels are in, to copy a frame into.
    pw_buffer* takeWritableBuffer();
    // Holds here the buffers the consumer has given back.
    void takeBackBuffers();
    using Memory = std::shared_ptr<MemFdBuffer>;
    // Asked of a buffer's memory; null for a buffer that has none.
    using MemoryTest = std::function<bool(const Memory* memory)>;
    // The first held buffer whose memory passes `test`, or the end of those held.
    std::vector<pw_buffer*>::iterator findHeld(const MemoryTest& test);
    // `held` taken out of those held; null for the end.
    pw_buffer* take(std::vector<pw_buffer*>::iterator held);
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
    // The memory behind each buffer of the stream, released with the buffer and with the last
    // texture lent it.
    std::map<pw_buffer*, Memory> memory_;
    // Buffers given back by the consumer and held here, some of them lent to textures.
    std::vector<pw_buffer*> held_;
    bool awaitingBuffers_ = true;   // a format is agreed, its buffers are not there yet
    bool scaled_ = false;           // the agreed size is not the one offered first
    std::vector<uint8_t> scratch_;  // a scaled frame on its way to YUV
    uint64_t sent_ = 0;
    uint64_t sequence_ = 0;
};
