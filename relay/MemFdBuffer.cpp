#include "relay/MemFdBuffer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::unique_ptr<MemFdBuffer> MemFdBuffer::create(size_t size, std::string& failure) {
    const int fd = memfd_create("lmv-relay-frame", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        failure = std::string("memfd_create: ") + std::strerror(errno);
        return nullptr;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) < 0) {
        failure = std::string("ftruncate: ") + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    // Consumers may map it but never change its size under us.
    if (fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW) < 0) {
        failure = std::string("fcntl(F_ADD_SEALS): ") + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    void* bytes = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (bytes == MAP_FAILED) {
        failure = std::string("mmap: ") + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    // Nor write into it: a consumer's writable mapping would change the frame that the preview,
    // a PNG and the stream read. The seal spares the mapping made before it, which fills it.
    if (fcntl(fd, F_ADD_SEALS, F_SEAL_FUTURE_WRITE | F_SEAL_SEAL) < 0) {
        failure = std::string("fcntl(F_SEAL_FUTURE_WRITE): ") + std::strerror(errno);
        munmap(bytes, size);
        close(fd);
        return nullptr;
    }
    return std::make_unique<MemFdBuffer>(Token{}, fd, static_cast<uint8_t*>(bytes), size);
}

MemFdBuffer::MemFdBuffer(Token, int fd, uint8_t* bytes, size_t size)
    : fd_(fd), bytes_(bytes), size_(size) {}

MemFdBuffer::~MemFdBuffer() {
    munmap(bytes_, size_);
    close(fd_);
}
