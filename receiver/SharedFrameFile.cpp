#include "receiver/SharedFrameFile.h"

#include <system_error>

#include "format/Configuration.h"
#include "format/SharedFrameHeader.h"

namespace {

bool fileExists(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

SharedFrameFile::SharedFrameFile(const std::filesystem::path& folder)
    : frameFilePath_(folder / config::frameFileName),
      lockFilePath_(folder / config::lockFileName) {}

bool SharedFrameFile::frameFileExists() const { return fileExists(frameFilePath_); }

bool SharedFrameFile::lockFileExists() const { return fileExists(lockFilePath_); }

SharedFrameFile::Attach SharedFrameFile::attach(std::string& reason) {
    frameFile_ = FileHandle::openForReading(frameFilePath_, reason);
    if (!frameFile_) return Attach::frameFileUnopened;
    if (lockFileExists() && !openLockFile(reason)) {
        detach();
        return Attach::lockFileUnopened;
    }
    mapping_ =
        SharedMapping::mapReadOnly(frameFile_->fileDescriptor(), SharedFrameHeader::mappingLength);
    if (!mapping_) {
        detach();
        return Attach::unmapped;
    }
    frameFileIdentity_ = FileIdentity::of(frameFile_->fileDescriptor());
    return Attach::attached;
}

bool SharedFrameFile::openLockFile(std::string& reason) {
    // flock needs no write access: a lock file the user may only read serves as well.
    auto lock = FileHandle::openForReading(lockFilePath_, reason);
    if (!lock) return false;
    lockFileIdentity_ = FileIdentity::of(lock->fileDescriptor());
    lockFile_ = std::move(lock);
    return true;
}

void SharedFrameFile::detach() {
    mapping_.reset();
    frameFile_.reset();
    lockFile_.reset();
    frameFileIdentity_.reset();
    lockFileIdentity_.reset();
}

bool SharedFrameFile::replaced() const {
    const auto madeAnew = [](const std::filesystem::path& path,
                             const std::optional<FileIdentity>& held) {
        const auto onDisk = FileIdentity::of(path);
        return onDisk && onDisk != held;
    };
    return madeAnew(frameFilePath_, frameFileIdentity_) ||
           (lockFile_ && madeAnew(lockFilePath_, lockFileIdentity_));
}
