#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct pw_thread_loop;
struct pw_stream;

// A small PipeWire video consumer for tests and benchmarks: an input stream on its own thread
// loop that links to a node by name, takes BGRA of whatever size the source announces and
// follows its format changes.
class PipeWireTestConsumer {
    struct Token {};

  public:
    struct Frame {
        uint32_t width = 0;
        uint32_t height = 0;
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
    // What the consumer has taken so far.
    struct Seen {
        size_t frames = 0;
        size_t malformed = 0;  // buffers whose rows do not fit the agreed format or the buffer
        std::optional<Frame> last;
    };

    static std::unique_ptr<PipeWireTestConsumer> connect(const std::string& targetNode,
                                                         Options options, std::string& failure);
    PipeWireTestConsumer(Token, Options options) : options_(std::move(options)) {}
    ~PipeWireTestConsumer();
    PipeWireTestConsumer(const PipeWireTestConsumer&) = delete;
    PipeWireTestConsumer& operator=(const PipeWireTestConsumer&) = delete;

    Seen seen() const;
    size_t frameCount() const { return seen().frames; }

  private:
    void process();

    Options options_;
    pw_thread_loop* threadLoop_ = nullptr;
    pw_stream* stream_ = nullptr;  // owns its own context and connection
    uint32_t width_ = 0;           // of the agreed format; the loop's thread only
    uint32_t height_ = 0;
    mutable std::mutex mutex_;
    Seen seen_;
};
