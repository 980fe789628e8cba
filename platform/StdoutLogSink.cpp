#include "platform/StdoutLogSink.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

namespace {

// Writes all of `bytes` to `fd`, resuming after partial writes and interruptions, and waiting
// while a non-blocking descriptor is full. False when the descriptor refuses the bytes.
bool writeAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written > 0) {
            bytes += written;
            size -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{fd, POLLOUT, 0};
            ::poll(&ready, 1, -1);
            continue;
        }
        return false;
    }
    return true;
}

// Blocks SIGPIPE for the write and takes back a SIGPIPE that the write itself raised, leaving
// one that was already pending before.
class SigpipeShield {
  public:
    SigpipeShield() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
    }
    ~SigpipeShield() {
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec now{0, 0};
                while (sigtimedwait(&pipeOnly_, nullptr, &now) < 0 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeShield(const SigpipeShield&) = delete;
    SigpipeShield& operator=(const SigpipeShield&) = delete;

  private:
    sigset_t pipeOnly_{};
    sigset_t previous_{};
    bool wasPending_ = false;
};

}  // namespace

void StdoutLogSink::line(std::string_view text) {
    // One write for the line and its newline, so that lines from other writers never split it.
    std::string buffer;
    buffer.reserve(text.size() + 1);
    buffer.append(text);
    buffer.push_back('\n');
    SigpipeShield shield;
    writeAll(STDOUT_FILENO, buffer.data(), buffer.size());
}
