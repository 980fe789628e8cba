#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

// Finds the folder an application group shares with the host.
class ContainerLocator {
  public:
    virtual ~ContainerLocator() = default;
    virtual std::optional<std::filesystem::path> containerDirectory(
        std::string_view groupIdentifier) = 0;
};
