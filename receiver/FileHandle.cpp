#include "receiver/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::optional<FileHandle> FileHandle::openForUpdating(const std::filesystem::path& path,
                                                      std::string& failure) {
    return open(path, O_RDWR, failure);
}

std::optional<FileHandle> FileHandle::openForReading(const std::filesystem::path& path,
                                                     std::string& failure) {
    // Not blocking, as an open for reading would on a FIFO until it has a writer.
    return open(path, O_RDONLY | O_NONBLOCK, failure);
}

std::optional<FileHandle> FileHandle::open(const std::filesystem::path& path, int flags,
                                           std::string& failure) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    struct stat status {};
    if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        // A folder is no file, opened for reading or not: refused as an open for updating is.
        ::close(fd);
        fd = -1;
        errno = EISDIR;
    }
    if (fd < 0) {
        failure = "The file \"" + path.filename().string() +
                  "\" couldn't be opened: " + std::strerror(errno) + " (" + path.string() + ")";
        return std::nullopt;
    }
    return FileHandle(fd);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int64_t FileHandle::length() const {
    struct stat status {};
    if (fd_ < 0 || ::fstat(fd_, &status) != 0) return -1;
    return status.st_size;
}

void FileHandle::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}
