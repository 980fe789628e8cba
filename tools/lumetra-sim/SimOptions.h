#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// What lumetra-sim is asked to do, from its command line.
struct SimOptions {
    uint64_t frames = 0;  // 0: until stopped
    uint32_t first = 1;
    uint32_t width = 1920;
    uint32_t height = 1080;
    uint32_t bytesPerRow = 0;  // 0: 4 × width
    double rate = 60.0;
    bool lockFile = true;
    bool signal = true;
    std::optional<std::filesystem::path> directory;
    bool help = false;
    // Faults a broken or busy host shows, for end-to-end tests.
    std::optional<uint32_t> dieMidFrame;  // killed while it holds its lock, half through it
    std::optional<uint32_t> pauseAfter;   // stops writing for `pauseSeconds` after that frame
    std::optional<uint32_t> hangInFrame;  // holds its lock in that frame for `pauseSeconds`
    double pauseSeconds = 10.0;
    uint32_t flood = 0;  // extra new-frame signals posted at once after the first frame

    uint32_t rowPitch() const { return bytesPerRow != 0 ? bytesPerRow : width * 4; }

    // None, with the reason in `error`, when an option is unknown, lacks its value or breaks a
    // rule every frame must keep.
    static std::optional<SimOptions> parse(int argc, const char* const* argv, std::string& error);
    static std::string usage();
};
