#pragma once

#include <QObject>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/LogSink.h"
#include "core/RunLoop.h"
#include "gpu/Texture.h"
#include "stream/GstRecorder.h"
#include "stream/RecordingSettings.h"

// Starts and stops recordings at any time, from the command line, the Record button or Ctrl+R,
// and hands each frame the receiver takes to the one under way. A stopped recording finishes its
// file in the background while a new one may already run. Main thread only.
class RecordingControl : public QObject {
    Q_OBJECT

  public:
    RecordingControl(RecordingSettings::Quality quality, std::shared_ptr<LogSink> log,
                     std::shared_ptr<RunLoop> runLoop);
    // Finishes every file, waiting for them.
    ~RecordingControl() override;

    // Records to `path` from now on. False when it cannot start; the reason is logged.
    bool start(const std::string& path);
    // Ends the recording under way, if any; its file is finished in the background.
    void stop();
    // Ends the recording under way and waits until every file is finished and its line logged.
    void finishAll();

    bool recording() const { return current_ != nullptr; }
    // When the recording under way started.
    std::chrono::steady_clock::time_point startedAt() const { return startedAt_; }

    // Called by the receiver's frame sink at intake, right after the frame's copy.
    void publishFrame(const std::shared_ptr<gpu::Texture>& texture);

  Q_SIGNALS:
    void recordingChanged(bool recording);

  private:
    void onEnded(GstRecorder* recorder);

    RecordingSettings::Quality quality_;
    std::shared_ptr<LogSink> log_;
    std::shared_ptr<RunLoop> runLoop_;
    std::unique_ptr<GstRecorder> current_;
    std::vector<std::unique_ptr<GstRecorder>> finishing_;  // stopped, their files not yet done
    std::chrono::steady_clock::time_point startedAt_{};
};
