#pragma once

#include <string>
#include <string_view>

// How the frames are recorded to a file: where, from the start (--record), and at which quality.
// Parsed whole before anything starts, as the stream settings are.
struct RecordingSettings {
    enum class Quality {
        standard,  // x264 at constant quality 20: no visible loss
        lossless,  // x264 at quantizer 0 in 4:4:4, for editing: the frames as converted to YUV
    };

    std::string path;  // ends in .mkv; empty: no recording from the start
    Quality quality = Quality::standard;

    bool records() const { return !path.empty(); }

    // Whether `key` is one of the recording's settings: "record" or "record-quality".
    static bool takes(std::string_view key);
    // Takes one of them. False with `failure` naming the field and the rule when the value is not
    // taken whole; the settings are then unchanged.
    bool apply(std::string_view key, std::string_view value, std::string& failure);
};
