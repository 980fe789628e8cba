#include "tools/lumetra-sim/SimulatedHost.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "receiver/Configuration.h"
#include "receiver/SharedFrameHeader.h"
#include "tools/writer/TestPattern.h"

namespace {

// A reader may be waiting for the frame file and attaches the moment it appears; it looks for
// the lock file only then. So the lock file is made first, and a new frame file appears under its
// name already at its full length (made unnamed, sized, then linked in). The writer library
// then opens both as existing files.
bool prepareFiles(const std::filesystem::path& directory, bool lockFile, std::string& failure) {
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        failure = directory.string() + ": " + std::strerror(errno);
        return false;
    }
    if (lockFile) {
        const auto lockPath = directory / config::lockFileName;
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            failure = lockPath.string() + ": " + std::strerror(errno);
            return false;
        }
        ::close(fd);
    }
    const auto framePath = directory / config::frameFileName;
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return true;  // no unnamed files here: the writer library creates it
    if (::ftruncate(fd, static_cast<off_t>(SharedFrameHeader::mappingLength)) == 0) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        // On EEXIST the file is there already; on any other failure the writer library makes it.
        ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, framePath.c_str(), AT_SYMLINK_FOLLOW);
    }
    ::close(fd);
    return true;
}

}  // namespace

std::unique_ptr<SimulatedHost> SimulatedHost::create(const SimOptions& options,
                                                     const std::filesystem::path& directory,
                                                     std::string& failure) {
    if (!prepareFiles(directory, options.lockFile, failure)) return nullptr;
    SharedFrameWriter::Options writerOptions;
    writerOptions.createLockFile = options.lockFile;
    auto writer = SharedFrameWriter::create(directory, writerOptions, failure);
    if (!writer) return nullptr;
    return std::make_unique<SimulatedHost>(Token{}, options, std::move(writer));
}

SimulatedHost::SimulatedHost(Token, const SimOptions& options,
                             std::unique_ptr<SharedFrameWriter> writer)
    : width_(options.width),
      height_(options.height),
      bytesPerRow_(options.rowPitch()),
      writer_(std::move(writer)) {}

void SimulatedHost::writeFrame(uint32_t frameNumber) {
    const uint32_t dataSize = bytesPerRow_ * height_;  // checked against the slot when parsed
    const SharedFrameHeader header{width_, height_, frameNumber, bytesPerRow_, dataSize};
    writer_->withExclusiveLock([&](uint8_t* slot) {
        uint8_t* pixels = slot + SharedFrameHeader::headerSize;
        if (!previousFrame_) {
            const auto quadrants = TestPattern::quadrants(width_, height_, bytesPerRow_);
            std::memcpy(pixels, quadrants.data(), quadrants.size());
        }
        TestPattern::moveBar(pixels, width_, height_, bytesPerRow_,
                             previousFrame_.value_or(frameNumber), frameNumber);
        header.store(slot);
    });
    previousFrame_ = frameNumber;
}
