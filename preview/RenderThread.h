#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Where a preview's GL work runs: a thread of its own, so that uploading and drawing a large
// frame never holds up the main thread, which takes and relays frames meanwhile. Jobs run one
// after another in the order they were posted. Where the platform cannot draw from another
// thread, jobs run at once on the caller's thread instead.
class RenderThread {
  public:
    explicit RenderThread(bool separateThread);
    // Runs the jobs already posted, then ends the thread.
    ~RenderThread();
    RenderThread(const RenderThread&) = delete;
    RenderThread& operator=(const RenderThread&) = delete;

    void post(std::function<void()> job);
    // Runs `job` after the jobs posted before it, and returns once it has run. For work that is
    // rare and must finish before its caller goes on: setting up, reading back, tearing down.
    void runAndWait(std::function<void()> job);

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once the members it uses exist
};
