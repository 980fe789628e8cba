#pragma once

#include <filesystem>

// How many file descriptors this process holds open (the listing's own included).
inline size_t openDescriptorCount() {
    const std::filesystem::directory_iterator listing("/proc/self/fd");
    return std::distance(begin(listing), end(listing));
}
