#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "receiver/FileHandle.h"
#include "receiver/FileIdentity.h"
#include "receiver/SharedMapping.h"

// The host's frame file in its shared folder, mapped for reading, and its lock file once the
// host has made one. Remembers which files it holds, so that files made anew at the same paths
// are noticed.
class SharedFrameFile {
  public:
    enum class Attach { attached, frameFileUnopened, lockFileUnopened, unmapped };

    explicit SharedFrameFile(const std::filesystem::path& folder);

    bool frameFileExists() const;
    bool lockFileExists() const;
    // Opens the frame file, the lock file if there is one, and maps the frame file. On failure
    // nothing stays open, and `reason` says why a file could not be opened.
    Attach attach(std::string& reason);
    // Opens the lock file the host made after the frame file; false, with the reason, if it
    // cannot be opened.
    bool openLockFile(std::string& reason);
    void detach();
    // Whether the host made either file anew at its path. A file missing for the moment is not:
    // a restarting host is about to make it again.
    bool replaced() const;

    bool isAttached() const { return mapping_ != nullptr; }
    bool hasLockFile() const { return lockFile_.has_value(); }
    // -1 without a lock file.
    int lockDescriptor() const { return lockFile_ ? lockFile_->fileDescriptor() : -1; }
    // The frame file's length now, or -1 when it cannot be told.
    int64_t length() const { return frameFile_->length(); }
    const uint8_t* bytes() const { return mapping_->bytes(); }

  private:
    std::filesystem::path frameFilePath_;
    std::filesystem::path lockFilePath_;
    std::optional<FileHandle> frameFile_;
    std::optional<FileHandle> lockFile_;
    std::unique_ptr<SharedMapping> mapping_;
    std::optional<FileIdentity> frameFileIdentity_;
    std::optional<FileIdentity> lockFileIdentity_;
};
