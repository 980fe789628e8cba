#include "tools/lumetra-sim/SimulatedHost.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "format/SharedFrameHeader.h"
#include "tools/writer/TestPattern.h"

std::unique_ptr<SimulatedHost> SimulatedHost::create(const SimOptions& options,
                                                     const std::filesystem::path& directory,
                                                     std::string& failure) {
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

void SimulatedHost::dieMidFrame(uint32_t frameNumber) {
    writer_->lockExclusive();
    const size_t half = size_t{bytesPerRow_} * height_ / 2;
    std::memset(writer_->slot() + SharedFrameHeader::headerSize, int(frameNumber & 0xFF), half);
    std::raise(SIGKILL);
    std::abort();
}
