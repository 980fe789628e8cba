#pragma once

#include <sys/file.h>

// Holds a shared flock on the lock file for one read window. Without a descriptor (no lock
// file) it does nothing; a failed flock call lets the read go ahead unlocked.
class SharedFileLock {
  public:
    explicit SharedFileLock(int fd) : fd_(fd) {
        if (fd_ >= 0) ::flock(fd_, LOCK_SH);
    }
    ~SharedFileLock() { unlock(); }
    SharedFileLock(const SharedFileLock&) = delete;
    SharedFileLock& operator=(const SharedFileLock&) = delete;

    void unlock() {
        if (fd_ >= 0) ::flock(fd_, LOCK_UN);
        fd_ = -1;
    }

  private:
    int fd_;
};
