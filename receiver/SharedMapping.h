#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A read-only shared mapping of a file, unmapped (same length) on destruction.
class SharedMapping {
    struct Token {};

  public:
    // None when mmap fails.
    static std::unique_ptr<SharedMapping> mapReadOnly(int fd, size_t length);
    ~SharedMapping();
    SharedMapping(const SharedMapping&) = delete;
    SharedMapping& operator=(const SharedMapping&) = delete;

    const uint8_t* bytes() const { return bytes_; }
    size_t length() const { return length_; }

    SharedMapping(Token, const uint8_t* bytes, size_t length) : bytes_(bytes), length_(length) {}

  private:
    const uint8_t* bytes_;
    size_t length_;
};
