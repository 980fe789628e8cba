#include "tools/writer/SharedFrameWriter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "format/Configuration.h"

std::unique_ptr<SharedFrameWriter> SharedFrameWriter::create(const std::filesystem::path& directory,
                                                             Options options,
                                                             std::string& failure) {
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        failure = directory.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    auto writer = std::make_unique<SharedFrameWriter>(Token{});
    writer->framePath_ = directory / config::frameFileName;
    writer->lockPath_ = directory / config::lockFileName;

    // The lock file comes first and the frame file appears at its full length in one step, so a
    // reader that finds the frame file never meets it short or without its lock file.
    if (options.createLockFile) {
        writer->lockFd_ = ::open(writer->lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (writer->lockFd_ < 0) {
            failure = writer->lockPath_.string() + ": " + std::strerror(errno);
            return nullptr;
        }
    }
    writer->frameFd_ = ::open(writer->framePath_.c_str(), O_RDWR | O_CLOEXEC);
    if (writer->frameFd_ < 0 && errno == ENOENT) {
        std::string staging = (directory / ".shared_texture.bin.XXXXXX").string();
        writer->frameFd_ = ::mkostemp(staging.data(), O_CLOEXEC);
        if (writer->frameFd_ >= 0 &&
            (::ftruncate(writer->frameFd_, static_cast<off_t>(options.fileLength)) != 0 ||
             ::rename(staging.c_str(), writer->framePath_.c_str()) != 0)) {
            failure = writer->framePath_.string() + ": " + std::strerror(errno);
            ::unlink(staging.c_str());
            return nullptr;
        }
    }
    if (writer->frameFd_ < 0) {
        failure = writer->framePath_.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat status {};
    ::fstat(writer->frameFd_, &status);
    if (static_cast<uint64_t>(status.st_size) < options.fileLength &&
        ::ftruncate(writer->frameFd_, static_cast<off_t>(options.fileLength)) != 0) {
        failure = writer->framePath_.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    void* address = ::mmap(nullptr, SharedFrameHeader::mappingLength, PROT_READ | PROT_WRITE,
                           MAP_SHARED, writer->frameFd_, 0);
    if (address == MAP_FAILED) {
        failure = std::string("mmap: ") + std::strerror(errno);
        return nullptr;
    }
    writer->slot_ = static_cast<uint8_t*>(address);
    return writer;
}

SharedFrameWriter::~SharedFrameWriter() {
    if (slot_) ::munmap(slot_, SharedFrameHeader::mappingLength);
    if (lockFd_ >= 0) ::close(lockFd_);
    if (frameFd_ >= 0) ::close(frameFd_);
}

void SharedFrameWriter::lockExclusive() {
    if (lockFd_ >= 0) ::flock(lockFd_, LOCK_EX);
}

void SharedFrameWriter::unlock() {
    if (lockFd_ >= 0) ::flock(lockFd_, LOCK_UN);
}

bool SharedFrameWriter::writeFrame(uint32_t frameNumber, uint32_t width, uint32_t height,
                                   uint32_t bytesPerRow, const uint8_t* pixels) {
    const uint64_t dataSize = uint64_t{bytesPerRow} * height;
    if (dataSize == 0 || dataSize > uint64_t{SharedFrameHeader::maxDataSize}) return false;
    SharedFrameHeader header{width, height, frameNumber, bytesPerRow,
                             static_cast<uint32_t>(dataSize)};
    withExclusiveLock([&](uint8_t* slot) {
        std::memcpy(slot + SharedFrameHeader::headerSize, pixels, dataSize);
        header.store(slot);
    });
    return true;
}

void SharedFrameWriter::writeHeader(const SharedFrameHeader& header) {
    withExclusiveLock([&](uint8_t* slot) { header.store(slot); });
}

bool SharedFrameWriter::truncate(uint64_t length) {
    return ::ftruncate(frameFd_, static_cast<off_t>(length)) == 0;
}
