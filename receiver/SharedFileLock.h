#pragma once

#include <sys/file.h>

#include <cerrno>

// Tries for a shared flock on the lock file for one read window, never waiting: while the host
// holds its exclusive lock the window is `busy()` and nothing may be read. Without a descriptor
// (no lock file) it does nothing; a flock call that fails otherwise lets the read go ahead
// unlocked.
class SharedFileLock {
  public:
    explicit SharedFileLock(int fd) {
        if (fd < 0) return;
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            fd_ = fd;
        } else {
            busy_ = errno == EWOULDBLOCK;
        }
    }
    ~SharedFileLock() { unlock(); }
    SharedFileLock(const SharedFileLock&) = delete;
    SharedFileLock& operator=(const SharedFileLock&) = delete;

    bool busy() const { return busy_; }
    void unlock() {
        if (fd_ >= 0) ::flock(fd_, LOCK_UN);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    bool busy_ = false;
};
