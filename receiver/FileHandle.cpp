#include "receiver/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::optional<FileHandle> FileHandle::openForReading(const std::filesystem::path& path,
                                                     std::string& failure) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        // A folder opens for reading, but it is no file.
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
