#include "tools/lumetra-sim/SimOptions.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "format/SharedFrameHeader.h"
#include "gpu/FrameStore.h"

namespace {

template <typename Number>
bool parseNumber(std::string_view text, Number& value) {
    if (text.empty()) return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool parseSize(std::string_view text, uint32_t& width, uint32_t& height) {
    const auto x = text.find('x');
    return x != std::string_view::npos && parseNumber(text.substr(0, x), width) &&
           parseNumber(text.substr(x + 1), height);
}

// Checks the frame against the slot's rules: sides the reader can make a texture of, rows of at
// least 4 × width bytes, and all rows within the slot.
bool checkFrame(const SimOptions& options, std::string& error) {
    const uint32_t largest = gpu::FrameStore::maxTextureDimension;
    if (options.width == 0 || options.height == 0 || options.width > largest ||
        options.height > largest) {
        error = "--size: each side must be 1 to " + std::to_string(largest);
        return false;
    }
    const uint64_t packed = uint64_t{options.width} * 4;
    if (options.bytesPerRow != 0 && options.bytesPerRow < packed) {
        error = "--bytes-per-row: at least 4 × width (" + std::to_string(packed) + ")";
        return false;
    }
    const uint64_t dataSize = uint64_t{options.rowPitch()} * options.height;
    if (dataSize > uint64_t{SharedFrameHeader::maxDataSize}) {
        error = "a frame of " + std::to_string(dataSize) + " bytes exceeds the slot's " +
                std::to_string(SharedFrameHeader::maxDataSize);
        return false;
    }
    return true;
}

}  // namespace

std::optional<SimOptions> SimOptions::parse(int argc, const char* const* argv, std::string& error) {
    SimOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const auto value = [&](std::string_view& out) {
            if (i + 1 >= argc) {
                error = std::string(option) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string_view text;
        if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--no-lock-file") {
            options.lockFile = false;
        } else if (option == "--no-signal") {
            options.signal = false;
        } else if (option == "--frames") {
            if (!value(text)) return std::nullopt;
            if (!parseNumber(text, options.frames)) {
                error = "--frames: a whole number, 0 for no end";
                return std::nullopt;
            }
        } else if (option == "--first") {
            if (!value(text)) return std::nullopt;
            if (!parseNumber(text, options.first) || options.first == 0) {
                error = "--first: a frame number from 1 to 4294967295";
                return std::nullopt;
            }
        } else if (option == "--size") {
            if (!value(text)) return std::nullopt;
            if (!parseSize(text, options.width, options.height)) {
                error = "--size: WIDTHxHEIGHT, for example 1920x1080";
                return std::nullopt;
            }
        } else if (option == "--bytes-per-row") {
            if (!value(text)) return std::nullopt;
            if (!parseNumber(text, options.bytesPerRow) || options.bytesPerRow == 0) {
                error = "--bytes-per-row: a positive whole number";
                return std::nullopt;
            }
        } else if (option == "--rate") {
            if (!value(text)) return std::nullopt;
            if (!parseNumber(text, options.rate) || !std::isfinite(options.rate) ||
                options.rate <= 0.0 || options.rate > 1000.0) {
                error = "--rate: frames per second, above 0 and at most 1000";
                return std::nullopt;
            }
        } else if (option == "--die-mid-frame" || option == "--pause-after" ||
                   option == "--hang-in-frame") {
            if (!value(text)) return std::nullopt;
            uint32_t frame = 0;
            if (!parseNumber(text, frame) || frame == 0) {
                error = std::string(option) + ": a frame number from 1 to 4294967295";
                return std::nullopt;
            }
            (option == "--die-mid-frame" ? options.dieMidFrame
             : option == "--pause-after" ? options.pauseAfter
                                         : options.hangInFrame) = frame;
        } else if (option == "--pause-seconds") {
            if (!value(text)) return std::nullopt;
            if (!parseNumber(text, options.pauseSeconds) || !std::isfinite(options.pauseSeconds) ||
                options.pauseSeconds < 0.0) {
                error = "--pause-seconds: seconds, 0 or more";
                return std::nullopt;
            }
        } else if (option == "--flood") {
            if (!value(text)) return std::nullopt;
            if (!parseNumber(text, options.flood)) {
                error = "--flood: a whole number of signals";
                return std::nullopt;
            }
        } else if (option == "--dir") {
            if (!value(text)) return std::nullopt;
            if (text.empty()) {
                error = "--dir: a folder";
                return std::nullopt;
            }
            options.directory = std::filesystem::path(text);
        } else {
            error = "unknown option '" + std::string(option) + "'";
            return std::nullopt;
        }
    }
    if (options.help) return options;
    if (!checkFrame(options, error)) return std::nullopt;
    // Numbers only grow: the last frame must not wrap around.
    if (options.frames > 0 && options.frames - 1 > uint64_t{UINT32_MAX} - options.first) {
        error = "--frames: the frame numbers would pass 4294967295";
        return std::nullopt;
    }
    return options;
}

std::string SimOptions::usage() {
    return "Usage: lumetra-sim [OPTIONS]\n"
           "Stands in for the Lumetra host: writes test-pattern frames into shared_texture.bin\n"
           "(under an exclusive flock on shared_texture.lock, header last) in\n"
           "$XDG_RUNTIME_DIR/group.com.lumetra.visualizer/ and posts the D-Bus session signal\n"
           "com.lumetra.visualizer.newFrame after each frame. Stops on SIGINT or SIGTERM.\n"
           "\n"
           "  --frames N          write N frames, then stop (default 0: until stopped)\n"
           "  --first N           number of the first frame (default 1)\n"
           "  --size WxH          frame size in pixels (default 1920x1080)\n"
           "  --rate R            frames per second (default 60)\n"
           "  --bytes-per-row N   row pitch in bytes, at least 4 x width (default 4 x width)\n"
           "  --no-lock-file      write without the lock file (none is created)\n"
           "  --no-signal         post no D-Bus signal\n"
           "  --dir PATH          write into PATH instead of the group folder\n"
           "\n"
           "Faults of a broken or busy host:\n"
           "  --die-mid-frame N   take the lock for frame N, write half of it, then die (SIGKILL)\n"
           "  --pause-after N     after frame N, write nothing for --pause-seconds (default 10)\n"
           "  --hang-in-frame N   take the lock for frame N and hold it for --pause-seconds\n"
           "  --flood N           after the first frame, post N more signals at once\n"
           "  --help              show this text\n";
}
