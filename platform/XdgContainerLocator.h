#pragma once

#include "core/ContainerLocator.h"

// The application-group folder is `$XDG_RUNTIME_DIR/<group>/`, created with mode 0700 when
// missing. None when XDG_RUNTIME_DIR is unset, empty or relative, or the folder cannot be made.
class XdgContainerLocator : public ContainerLocator {
  public:
    std::optional<std::filesystem::path> containerDirectory(
        std::string_view groupIdentifier) override;
};
