#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Shared memory for one relayed frame: an anonymous memfd of a fixed size, mapped read-write here
// and sealed, so that consumers, who map the same file through its descriptor, can only read it.
class MemFdBuffer {
    struct Token {};

  public:
    // None, with the reason in `failure`, when the memory cannot be had.
    static std::unique_ptr<MemFdBuffer> create(size_t size, std::string& failure);
    MemFdBuffer(Token, int fd, uint8_t* bytes, size_t size);
    ~MemFdBuffer();
    MemFdBuffer(const MemFdBuffer&) = delete;
    MemFdBuffer& operator=(const MemFdBuffer&) = delete;

    int fd() const { return fd_; }
    uint8_t* bytes() const { return bytes_; }
    size_t size() const { return size_; }

  private:
    int fd_;
    uint8_t* bytes_;
    size_t size_;
};
