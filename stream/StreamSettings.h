#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// Where and how the frames go out as a network stream. An empty `uri` sends nothing.
struct StreamSettings {
    std::string uri;     // srt://HOST:PORT[?mode=listener|caller][&passphrase=...]
    uint32_t width = 0;  // 0: the host's size
    uint32_t height = 0;
    uint32_t fps = 0;  // 0: the host's rate

    // Takes one setting: "stream", "stream-size" (WxH) or "stream-fps" (N). False with
    // `failure` set when the key is unknown or the value malformed.
    bool apply(std::string_view key, std::string_view value, std::string& failure);
    // Takes the "key=value" lines of a configuration file; blank lines and lines starting with
    // '#' are skipped. A missing file is no failure.
    bool applyFile(const std::filesystem::path& file, std::string& failure);
};
