#pragma once

#include <memory>
#include <string>
#include <utility>

#include "core/FrameSink.h"
#include "core/LogSink.h"
#include "format/Configuration.h"

// What relays the receiver's frames to other applications, said to be made as it is
// made. It is stopped as it goes, and the log says so even if it could not be made.
class FrameRelay {
  public:
    FrameRelay(FrameSinkFactory& factory, std::shared_ptr<gpu::FrameStore> frameStore,
               std::shared_ptr<LogSink> log)
        : log_(std::move(log)) {
        auto made = factory.create(std::string(config::cameraName), std::move(frameStore));
        sink_ = std::move(made.server);
        if (made.failure.empty()) {
            log_->line("✅ Syphon server created: 'Lumetra Vuzadivirur'");
        } else {
            log_->line("❌ Failed to create Syphon server 'Lumetra Vuzadivirur': " + made.failure +
                       " (frames are not relayed)");
        }
    }
    ~FrameRelay() {
        if (!log_) return;
        if (sink_) sink_->stop();
        log_->line("🛑 Syphon server stopped");
    }
    FrameRelay(const FrameRelay&) = delete;
    FrameRelay& operator=(const FrameRelay&) = delete;

    void publishFrame(std::shared_ptr<gpu::Texture> texture) {
        if (sink_) sink_->publishFrame(std::move(texture));
    }
    // Lets the server go at once, unstopped and unannounced: a receiver that could not open the
    // host's frame file at its start has never run it.
    void abandon() {
        sink_.reset();
        log_.reset();
    }

  private:
    std::shared_ptr<LogSink> log_;
    std::unique_ptr<FrameSink> sink_;
};
