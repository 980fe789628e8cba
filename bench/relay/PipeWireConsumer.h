#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct pw_thread_loop;
struct pw_stream;

// The benchmark's PipeWire video consumer: an input stream on its own thread loop that links to a
// node by name, takes BGRA, NV12 or I420 of whatever size the source announces, or of the size
// it asks for, and follows its format changes.
class PipeWireConsumer {
    struct Token {};

  public:
    // Runs on the consumer's thread for every frame whose rows (of BGRA, or of YUV luma) fit its
    // buffer, with those rows.
    using Observer = std::function<void(uint32_t width, uint32_t height, const uint8_t* rows)>;

    // None when the stream cannot be made. `format` is SPA_VIDEO_FORMAT_BGRA, _NV12 or _I420;
    // a `width` other than 0 asks for that size.
    static std::unique_ptr<PipeWireConsumer> connect(const std::string& targetNode, uint32_t format,
                                                     Observer observer, uint32_t width = 0,
                                                     uint32_t height = 0);
    PipeWireConsumer(Token, size_t bytesPerPixel, Observer observer)
        : bytesPerPixel_(bytesPerPixel), observer_(std::move(observer)) {}
    ~PipeWireConsumer();
    PipeWireConsumer(const PipeWireConsumer&) = delete;
    PipeWireConsumer& operator=(const PipeWireConsumer&) = delete;

    // The frames taken so far.
    size_t frameCount() const { return frames_; }

  private:
    void process();

    size_t bytesPerPixel_;  // in the first plane
    Observer observer_;
    pw_thread_loop* threadLoop_ = nullptr;
    pw_stream* stream_ = nullptr;  // owns its own context and connection
    uint32_t width_ = 0;           // of the agreed format; the loop's thread only
    uint32_t height_ = 0;
    std::atomic<size_t> frames_ = 0;
};
