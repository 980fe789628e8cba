#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/FrameSink.h"
#include "core/LogSink.h"
#include "core/RunLoop.h"
#include "stream/RecordingSettings.h"

typedef struct _GstElement GstElement;

// Records the frames to a file as H.264 in Matroska through a GStreamer pipeline. Each frame's
// texture goes in as it is, without a copy; conversion, scaling, encoding and writing run on
// GStreamer's threads. Each frame is stamped with the moment it was handed over, so the file's
// timing is the show's, stalls included. Every frame goes in unless the encoder is already a
// tenth of a second behind: then it is dropped, counted and logged once a minute. A later size
// is scaled to the first one, keeping its aspect with black borders: one file, as a show is
// edited and posted whole, and Matroska's muxer takes no change of size. The file stays readable
// up to about its last second if the process is killed; stopped, it is finished with its
// duration and index off the main thread. Everything else runs on the main thread.
class GstRecorder : public FrameSink {
  public:
    // Started and logged ("⏺️ Recording to PATH"); `ended` is called on the main thread once
    // the file is finished or has failed, and its line logged. None, with `failure` saying why
    // (a missing element and its Debian package, a file that cannot be created), otherwise.
    static std::unique_ptr<GstRecorder> create(const std::string& path,
                                               RecordingSettings::Quality quality,
                                               std::shared_ptr<LogSink> log,
                                               std::shared_ptr<RunLoop> runLoop,
                                               std::function<void()> ended, std::string& failure);
    // Finishes the file, waiting for it, if that has not happened yet.
    ~GstRecorder() override;
    GstRecorder(const GstRecorder&) = delete;
    GstRecorder& operator=(const GstRecorder&) = delete;

    // Takes `texture` as stored (row 0 on top), stamped with the steady clock's time now: the
    // receiver calls this at intake, right after the frame's copy.
    void publishFrame(std::shared_ptr<gpu::Texture> texture) override;
    // Ends the recording: the file is finished off the main thread; nothing is taken after this.
    void stop() override;

    const std::string& path() const { return path_; }
    uint64_t recordedFrames() const { return recorded_; }
    uint64_t droppedFrames() const { return droppedTotal_; }

    // Use create().
    GstRecorder(std::string path, std::shared_ptr<LogSink> log, std::shared_ptr<RunLoop> runLoop,
                std::function<void()> ended);

  private:
    enum class Outcome { running, saved, failed, timedOut };
    // Runs on the finishing thread: EOS (when asked) and the wait for it, then the pipeline down.
    void finish(bool drain);
    void onFailure(const std::string& reason);
    // Once the finishing thread is done: logs how the file ended and, when `notify`, calls
    // `ended`; once.
    void report(bool notify);
    void onMinute();

    const std::string path_;
    std::shared_ptr<LogSink> log_;
    std::shared_ptr<RunLoop> runLoop_;
    std::function<void()> ended_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    GstElement* pipeline_ = nullptr;  // owned; down once the finishing thread is joined
    GstElement* source_ = nullptr;    // borrowed from the pipeline, as is the next
    GstElement* size_ = nullptr;      // the capsfilter that holds the file's size
    bool lossless_ = false;
    std::unique_ptr<RepeatingTimer> minuteTimer_;

    // Main thread only.
    bool stopping_ = false;
    bool reported_ = false;
    uint32_t width_ = 0;  // of the caps last given to the source
    uint32_t height_ = 0;
    std::chrono::steady_clock::time_point start_{};  // the first frame's
    std::chrono::nanoseconds lastStamp_{};
    uint64_t recorded_ = 0;
    uint64_t droppedThisMinute_ = 0;
    uint64_t droppedTotal_ = 0;
    std::string failure_;  // GStreamer's reason, once the recording failed

    // Shared with GStreamer's and the finishing thread.
    std::mutex mutex_;
    std::condition_variable changed_;
    bool endOfStream_ = false;
    std::string busFailure_;
    Outcome outcome_ = Outcome::running;  // set by the finishing thread as it ends
    std::thread finisher_;                // last: joined first
};
