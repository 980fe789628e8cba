#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "format/SharedFrameHeader.h"

// The host's side of the shared frame file: creates both files and writes frames the way the
// reader relies on, pixels first and the header last, all under an exclusive flock.
class SharedFrameWriter {
    struct Token {};

  public:
    struct Options {
        bool createLockFile = true;
        // Length the frame file is given at creation (the full slot unless a test wants less).
        uint64_t fileLength = SharedFrameHeader::mappingLength;
    };

    // Creates `directory` (mode 0700) when missing and both files in it; a frame file already
    // there is reused and grown to the requested length, never shrunk. None on failure.
    static std::unique_ptr<SharedFrameWriter> create(const std::filesystem::path& directory,
                                                     Options options, std::string& failure);
    ~SharedFrameWriter();
    SharedFrameWriter(const SharedFrameWriter&) = delete;
    SharedFrameWriter& operator=(const SharedFrameWriter&) = delete;

    // Writes one frame: `height` rows of `bytesPerRow` bytes from `pixels`, then the header.
    // False when the frame does not fit the slot.
    bool writeFrame(uint32_t frameNumber, uint32_t width, uint32_t height, uint32_t bytesPerRow,
                    const uint8_t* pixels);
    // Writes a header as given, whatever it says; for hosts that break the rules.
    void writeHeader(const SharedFrameHeader& header);
    // Runs `write` on the slot under the exclusive lock.
    template <typename Write>
    void withExclusiveLock(Write&& write) {
        lockExclusive();
        write(slot_);
        unlock();
    }

    void lockExclusive();
    void unlock();
    bool hasLockFile() const { return lockFd_ >= 0; }
    // Changes the frame file's length, as a broken host might.
    bool truncate(uint64_t length);

    const std::filesystem::path& framePath() const { return framePath_; }
    const std::filesystem::path& lockPath() const { return lockPath_; }
    uint8_t* slot() { return slot_; }

    explicit SharedFrameWriter(Token) {}

  private:
    std::filesystem::path framePath_;
    std::filesystem::path lockPath_;
    int frameFd_ = -1;
    int lockFd_ = -1;
    uint8_t* slot_ = nullptr;
};
