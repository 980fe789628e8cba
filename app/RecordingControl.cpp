#include "app/RecordingControl.h"

#include <algorithm>

RecordingControl::RecordingControl(RecordingSettings::Quality quality, std::shared_ptr<LogSink> log,
                                   std::shared_ptr<RunLoop> runLoop)
    : quality_(quality), log_(std::move(log)), runLoop_(std::move(runLoop)) {}

RecordingControl::~RecordingControl() { finishAll(); }

bool RecordingControl::start(const std::string& path) {
    if (current_) return false;
    std::string failure;
    // Which recorder ended is known once it is made; it cannot end before.
    auto made = std::make_shared<GstRecorder*>(nullptr);
    auto recorder = GstRecorder::create(
        path, quality_, log_, runLoop_, [this, made] { onEnded(*made); }, failure);
    if (!recorder) {
        log_->line("❌ No recording to " + path + ": " + failure);
        return false;
    }
    *made = recorder.get();
    current_ = std::move(recorder);
    startedAt_ = std::chrono::steady_clock::now();
    Q_EMIT recordingChanged(true);
    return true;
}

void RecordingControl::stop() {
    if (!current_) return;
    current_->stop();
    finishing_.push_back(std::move(current_));
    Q_EMIT recordingChanged(false);
}

void RecordingControl::finishAll() {
    stop();
    // Each one's destruction waits for its file and logs its line.
    finishing_.clear();
}

void RecordingControl::publishFrame(const std::shared_ptr<gpu::Texture>& texture) {
    if (current_) current_->publishFrame(texture);
}

void RecordingControl::onEnded(GstRecorder* recorder) {
    std::unique_ptr<GstRecorder> ended;
    if (current_.get() == recorder) {
        ended = std::move(current_);
        Q_EMIT recordingChanged(false);
    } else {
        const auto it =
            std::find_if(finishing_.begin(), finishing_.end(),
                         [recorder](const auto& each) { return each.get() == recorder; });
        if (it == finishing_.end()) return;
        ended = std::move(*it);
        finishing_.erase(it);
    }
    // Not inside its own callback: it goes on the next pass of the loop.
    runLoop_->post([doomed = std::shared_ptr<GstRecorder>(std::move(ended))] {});
}
