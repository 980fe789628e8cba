#include "preview/RenderThread.h"

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
