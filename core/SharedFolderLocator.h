#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

// Finds the folder an application group shares with the host.
class SharedFolderLocator {
  public:
    virtual ~SharedFolderLocator() = default;
    virtual std::optional<std::filesystem::path> sharedFolder(std::string_view folderName) = 0;
};
