#include "receiver/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::optional<FileHandle> FileHandle::openForUpdating(const std::filesystem::path& path,
                                                      std::string& failure) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
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
