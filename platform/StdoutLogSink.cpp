#include "platform/StdoutLogSink.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Room for a long burst of events; a queue this full means that the reader has stopped.
constexpr size_t maxQueuedLines = 1024;
constexpr size_t maxQueuedBytes = size_t{1} << 20;
// How long the end of a sink or of the process waits for the last lines to reach the reader.
constexpr std::chrono::milliseconds finalDeadline = 1s;
constexpr std::string_view droppedNotice =
    "⚠️ Log lines dropped while standard output was blocked: ";

// Takes back the SIGPIPE that a write to a gone reader has just raised for this thread (which
// blocks it), so that it does not stay pending.
void takeBackSigpipe() {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    const timespec now{0, 0};
    while (sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
    }
}

// Writes all of `bytes` to standard output: in one write unless the descriptor takes less,
// resuming after partial writes and waiting while a non-blocking descriptor is full. An error
// costs the line; it is not tried again.
void writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{STDOUT_FILENO, POLLOUT, 0};
            ::poll(&ready, 1, -1);
            continue;
        }
        if (written < 0 && errno == EPIPE) takeBackSigpipe();
        return;
    }
}

// Blocks the signals that are not faults on the calling thread while it lasts; a thread started
// meanwhile keeps them blocked for good. The SIGPIPE its writes raise is sent to it alone and
// so stays pending instead of ending the process, and signals meant for the application's
// handlers go to other threads.
class SignalsBlocked {
  public:
    SignalsBlocked() {
        sigset_t signals;
        sigfillset(&signals);
        for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS})
            sigdelset(&signals, fault);
        pthread_sigmask(SIG_BLOCK, &signals, &previous_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

  private:
    sigset_t previous_{};
};

// The process's one writer of standard output: the queue that every sink fills and the thread
// that empties it, so that lines keep their order whichever sink sends them. It is never
// destroyed (see writer()), so the thread, which may be blocked in write() when the process
// ends, never outlives it, and neither does a sink that logs during static destruction.
class Writer {
  public:
    Writer() {
        const SignalsBlocked blocked;
        thread_ = std::thread([this] { run(); });
    }

    void enqueue(std::string line) {
        {
            const std::lock_guard lock(mutex_);
            // A line longer than the bound still goes out, alone.
            const bool fits = lines_.empty() || (lines_.size() < maxQueuedLines &&
                                                 bytes_ + line.size() <= maxQueuedBytes);
            if (!fits) {
                ++dropped_;
                return;
            }
            push(std::move(line));
        }
        work_.notify_one();
    }

    bool flush(std::chrono::milliseconds deadline) {
        std::unique_lock lock(mutex_);
        return waitForWritten(lock, deadline);
    }

    // Once a final flush has given up on a write, later ones do not wait for that write again:
    // a stalled output costs the exit one deadline, however many sinks there were.
    void finalFlush() {
        std::unique_lock lock(mutex_);
        if (stalledAt_ == finished_) return;
        if (!waitForWritten(lock, finalDeadline)) stalledAt_ = finished_;
    }

  private:
    bool waitForWritten(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds deadline) {
        // Lines dropped and not yet counted are owed their notice, the next line queued.
        const uint64_t target = queued_ + (dropped_ > 0 ? 1 : 0);
        return written_.wait_for(lock, deadline, [&] { return finished_ >= target; });
    }

    void push(std::string line) {
        bytes_ += line.size();
        ++queued_;
        lines_.push_back(std::move(line));
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return !lines_.empty(); });
            // The whole queue at once, and room again for as much: the lines lost meanwhile came
            // after all of it, so one count of them follows it, however late this thread runs.
            std::deque<std::string> batch;
            batch.swap(lines_);
            bytes_ = 0;
            if (dropped_ > 0) {
                ++queued_;
                batch.push_back(std::string(droppedNotice) + std::to_string(dropped_) + '\n');
                dropped_ = 0;
            }
            lock.unlock();
            for (const std::string& line : batch) {
                writeAll(line);
                const std::lock_guard written(mutex_);
                ++finished_;
                written_.notify_all();
            }
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable work_;     // a line was queued
    std::condition_variable written_;  // a line was written, or failed to be
    std::deque<std::string> lines_;    // each with its newline
    size_t bytes_ = 0;
    uint64_t queued_ = 0;
    uint64_t finished_ = 0;
    uint64_t dropped_ = 0;
    uint64_t stalledAt_ = UINT64_MAX;  // `finished_` when a final flush last gave up
    std::thread thread_;
};

void finalFlushAtExit();

Writer& writer() {
    static Writer& instance = []() -> Writer& {
        // Never freed, on purpose: see Writer.
        Writer& made = *std::make_unique<Writer>().release();
        // Lines queued through a sink that is never destroyed, or before a fatal report's
        // quick exit, still get their chance to reach the reader.
        std::atexit(finalFlushAtExit);
        std::at_quick_exit(finalFlushAtExit);
        return made;
    }();
    return instance;
}

void finalFlushAtExit() { writer().finalFlush(); }

}  // namespace

StdoutLogSink::~StdoutLogSink() { writer().finalFlush(); }

void StdoutLogSink::line(std::string_view text) {
    // The newline travels with the line, so that one write carries both and lines from other
    // writers cannot split them.
    std::string bytes;
    bytes.reserve(text.size() + 1);
    bytes.append(text);
    bytes.push_back('\n');
    writer().enqueue(std::move(bytes));
}

bool StdoutLogSink::flush(std::chrono::milliseconds deadline) { return writer().flush(deadline); }
