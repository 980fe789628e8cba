#include "receiver/SharedMapping.h"

#include <sys/mman.h>

std::unique_ptr<SharedMapping> SharedMapping::mapReadOnly(int fd, size_t length) {
    void* address = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) return nullptr;
    return std::make_unique<SharedMapping>(Token{}, static_cast<const uint8_t*>(address), length);
}

SharedMapping::~SharedMapping() { ::munmap(const_cast<uint8_t*>(bytes_), length_); }
