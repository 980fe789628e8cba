#pragma once

#include <dirent.h>

#include <cstddef>

// How many file descriptors this process holds open (the listing's own included).
inline size_t openDescriptorCount() {
    size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) ++count;
        ::closedir(dir);
    }
    return count;
}
