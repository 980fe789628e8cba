#include "preview/RenderThread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <future>

RenderThread::RenderThread(bool separateThread) {
    if (separateThread) thread_ = std::thread([this] { run(); });
}

RenderThread::~RenderThread() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void RenderThread::post(std::function<void()> job) {
    if (!thread_.joinable()) {
        job();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void RenderThread::runAndWait(std::function<void()> job) {
    if (!thread_.joinable()) {
        job();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    post([&] {
        job();
        done.set_value();
    });
    finished.wait();
}

void RenderThread::run() {
    // Below intake and relay, so that a machine that cannot keep up draws fewer previews rather
    // than take fewer frames; above the PNG saver (nice 10). On Linux a thread has a nice value
    // of its own, and the driver's threads made from here inherit it.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5);
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopping, with nothing left to run
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}
