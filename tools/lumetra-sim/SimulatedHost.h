#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/lumetra-sim/SimOptions.h"
#include "tools/writer/SharedFrameWriter.h"

// Writes the test pattern into the frame slot, keeping the writer's rules: everything under the
// exclusive lock, the header last. The quadrants are written with the first frame only; later
// frames only move the bar, so that even 4K frames cost little.
class SimulatedHost {
    struct Token {};

  public:
    // Creates the folder and both files. None, with the reason in `failure`, when it cannot.
    static std::unique_ptr<SimulatedHost> create(const SimOptions& options,
                                                 const std::filesystem::path& directory,
                                                 std::string& failure);
    SimulatedHost(Token, const SimOptions& options, std::unique_ptr<SharedFrameWriter> writer);

    void writeFrame(uint32_t frameNumber);
    // Takes the lock for a frame, writes half of its pixels and ends the process on the spot,
    // as a host that crashes mid-frame does; the kernel releases the lock.
    [[noreturn]] void dieMidFrame(uint32_t frameNumber);
    // Runs `hang` holding the lock, as a host stopped in a debugger in the middle of a frame.
    template <typename Hang>
    void hangHoldingLock(Hang&& hang) {
        writer_->withExclusiveLock([&](uint8_t*) { hang(); });
    }
    const SharedFrameWriter& writer() const { return *writer_; }

  private:
    uint32_t width_;
    uint32_t height_;
    uint32_t bytesPerRow_;
    std::unique_ptr<SharedFrameWriter> writer_;
    std::optional<uint32_t> previousFrame_;  // none until the quadrants are in the slot
};
