#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>

// Which file a path or descriptor names: a file made anew at the same path is another file.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;

    bool operator==(const FileIdentity&) const = default;

    static std::optional<FileIdentity> of(int fd) {
        struct stat status {};
        if (::fstat(fd, &status) != 0) return std::nullopt;
        return FileIdentity{status.st_dev, status.st_ino};
    }
    static std::optional<FileIdentity> of(const std::filesystem::path& path) {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) return std::nullopt;
        return FileIdentity{status.st_dev, status.st_ino};
    }
};
