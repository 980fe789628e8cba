#pragma once

#include "core/SharedFolderLocator.h"

// The application-group folder is `$XDG_RUNTIME_DIR/<group>/`, created with mode 0700 when
// missing. None when XDG_RUNTIME_DIR is unset, empty or relative, or the folder cannot be made.
class XdgSharedFolderLocator : public SharedFolderLocator {
  public:
    std::optional<std::filesystem::path> sharedFolder(std::string_view folderName) override;
};
