#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// Where and how the frames go out as a network stream, parsed whole before anything starts, so
// that nothing the user did not ask for (another port, every interface, no encryption) is ever
// left to the SRT library's own defaults. No host: nothing is sent.
struct StreamSettings {
    enum class Mode { listener, caller };

    // From srt://HOST:PORT[?mode=listener|caller][&passphrase=...][&latency=MS][&pbkeylen=N]
    std::string host;  // a name or an address; an IPv6 address without its brackets
    uint16_t port = 0;
    Mode mode = Mode::listener;
    std::string passphrase;  // percent-decoded; empty: unencrypted
    uint32_t latency = 125;  // milliseconds
    uint32_t keyLength = 0;  // bytes: 16, 24 or 32; 0: SRT's choice with a passphrase (16)
    uint32_t width = 0;      // 0: the host's size
    uint32_t height = 0;
    uint32_t fps = 0;  // 0: the host's rate

    bool streams() const { return !host.empty(); }
    // "HOST:PORT" ("[ADDRESS]:PORT" for IPv6): what may be logged, never the passphrase.
    std::string endpoint() const;
    // A listener anyone on the network may watch: no passphrase, not on a loopback address.
    bool exposed() const;

    // Takes one setting: "stream" (the address), "stream-size" (WxH) or "stream-fps" (N). False
    // with `failure` naming the field and the rule when the key is unknown or the value is not
    // taken whole; the settings are then unchanged.
    bool apply(std::string_view key, std::string_view value, std::string& failure);
    // Takes the "key=value" lines of a configuration file; blank lines and lines starting with
    // '#' are skipped. A missing file is no failure; `failure` starts with "FILE:LINE: ".
    bool applyFile(const std::filesystem::path& file, std::string& failure);
};
