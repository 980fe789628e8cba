#include "platform/XdgSharedFolderLocator.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>

std::optional<std::filesystem::path> XdgSharedFolderLocator::sharedFolder(
    std::string_view folderName) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0' || runtime[0] != '/') return std::nullopt;
    // A group name that could leave the runtime folder is no group.
    if (folderName.empty() || folderName.find('/') != std::string_view::npos || folderName == "." ||
        folderName == "..") {
        return std::nullopt;
    }
    std::filesystem::path directory = std::filesystem::path(runtime) / std::string(folderName);

    if (::mkdir(directory.c_str(), 0700) == 0) {
        // The umask may have taken bits away; the folder is private to its user either way.
        ::chmod(directory.c_str(), 0700);
        return directory;
    }
    if (errno != EEXIST) return std::nullopt;
    struct stat status {};
    if (::stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
    return directory;
}
