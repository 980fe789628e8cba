#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

// An open file descriptor, closed on destruction; errors from the close are ignored.
class FileHandle {
  public:
    // Opens `path` for reading only, never creating it, nor waiting on a FIFO: the host's files
    // are read here, never written, and need not be writable. None on failure, with the system's
    // description in `failure`.
    static std::optional<FileHandle> openForReading(const std::filesystem::path& path,
                                                    std::string& failure);

    FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { close(); }

    int fileDescriptor() const { return fd_; }
    // Current length of the file, or -1 when it cannot be told.
    int64_t length() const;
    void close();

  private:
    explicit FileHandle(int fd) : fd_(fd) {}
    int fd_ = -1;
};
