#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct spa_hook;
struct spa_pod;

// A small PipeWire video consumer for tests and benchmarks: an input stream on its own thread
// loop that links to a node by name, follows format changes, and keeps what it receives.
class PipeWireTestConsumer {
    struct Token {};

  public:
    struct Frame {
        uint32_t width = 0;
        uint32_t height = 0;
        int32_t stride = 0;
        uint64_t sequence = 0;        // from the buffer's header, when it has one
        bool sharedMemory = false;    // the buffer is a MemFd
        std::vector<uint8_t> pixels;  // tightly packed rows; empty unless kept
        std::chrono::steady_clock::time_point arrival;
    };
    // Runs on the consumer's thread for every frame, with the buffer's own rows.
    using FrameObserver = std::function<void(const Frame& frame, const uint8_t* rows)>;

    struct Options {
        bool keepPixels = true;
        FrameObserver observer;
    };

    static std::unique_ptr<PipeWireTestConsumer> connect(const std::string& targetNode,
                                                         Options options, std::string& failure);
    PipeWireTestConsumer(Token, Options options);
    ~PipeWireTestConsumer();
    PipeWireTestConsumer(const PipeWireTestConsumer&) = delete;
    PipeWireTestConsumer& operator=(const PipeWireTestConsumer&) = delete;

    size_t frameCount() const;
    std::optional<Frame> lastFrame() const;
    // Width and height of the format agreed last; 0 x 0 before any.
    std::pair<uint32_t, uint32_t> formatSize() const;
    size_t formatChanges() const;
    // Buffers whose chunk did not match the agreed format (wrong stride or size).
    size_t malformedFrames() const;
    bool isStreaming() const;

  private:
    struct Callbacks;
    friend struct Callbacks;

    void formatChanged(const spa_pod* format);
    void process();

    Options options_;
    pw_thread_loop* threadLoop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    std::unique_ptr<spa_hook> listener_;

    mutable std::mutex mutex_;
    std::optional<Frame> last_;
    size_t count_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    size_t formatChanges_ = 0;
    size_t malformed_ = 0;
    bool streaming_ = false;
};
