#include "stream/StreamSettings.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <optional>

#include "stream/SettingsFile.h"

namespace {

// Joined by appending: GCC 12 warns (-Wrestrict, in Release) on "literal" + std::string chains.
std::string joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text.append(part);
    return text;
}

std::optional<uint32_t> number(std::string_view text, uint32_t low, uint32_t high) {
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// `text` with its %XX escapes decoded; none when a '%' starts no such escape.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || hexDigit(text[i + 1]) < 0 || hexDigit(text[i + 2]) < 0)
            return std::nullopt;
        out += char(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
        i += 2;
    }
    return out;
}

bool allOf(std::string_view text, std::string_view extra, bool hexOnly) {
    return std::all_of(text.begin(), text.end(), [&](char c) {
        const bool alnum =
            hexOnly ? hexDigit(c) >= 0
                    : (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        return alnum || extra.find(c) != std::string_view::npos;
    });
}

// Parses an srt:// address into `out`; false with `failure` set. Values are never echoed for
// the passphrase, nor the query for a malformed address, as both may hold the secret.
bool parseAddress(std::string_view value, StreamSettings& out, std::string& failure) {
    constexpr std::string_view scheme = "srt://";
    if (!value.starts_with(scheme)) {
        failure = "stream address: must start with srt:// (srt://HOST:PORT)";
        return false;
    }
    value.remove_prefix(scheme.size());
    const size_t question = value.find('?');
    const std::string_view authority = value.substr(0, question);
    std::string_view host, port;
    if (authority.starts_with('[')) {
        const size_t close = authority.find(']');
        host = authority.substr(1, close == std::string_view::npos ? 0 : close - 1);
        if (close == std::string_view::npos || host.empty() || !allOf(host, ":.", true)) {
            failure = "stream host: an IPv6 address in brackets must be hex digits, ':' and '.'";
            return false;
        }
        if (authority.substr(close + 1, 1) == ":") port = authority.substr(close + 2);
    } else {
        const size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string_view::npos) port = authority.substr(colon + 1);
        const bool v6 = colon != std::string_view::npos &&
                        authority.find(':', colon + 1) != std::string_view::npos;
        if (host.empty() && !v6) {
            failure = "stream host: required (srt://HOST:PORT)";
            return false;
        }
        if (v6 || !allOf(host, ".-_", false)) {
            failure =
                "stream host: may hold only letters, digits, '.', '-' and '_' (an IPv6 "
                "address goes in brackets)";
            return false;
        }
    }
    const auto portNumber = number(port, 1, 65535);
    if (!portNumber) {
        failure = port.empty()
                      ? "stream port: required (srt://HOST:PORT)"
                      : joined({"stream port: must be a number from 1 to 65535, not '", port, "'"});
        return false;
    }
    out.host = host;
    out.port = uint16_t(*portNumber);

    bool seenMode = false, seenPassphrase = false, seenLatency = false, seenKeyLength = false;
    std::string_view query = question == std::string_view::npos ? "" : value.substr(question + 1);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view field = query.substr(0, amp);
        query = amp == std::string_view::npos ? "" : query.substr(amp + 1);
        if (field.empty()) continue;
        const size_t equals = field.find('=');
        const std::string_view key = field.substr(0, equals);
        bool* seen = key == "mode"         ? &seenMode
                     : key == "passphrase" ? &seenPassphrase
                     : key == "latency"    ? &seenLatency
                     : key == "pbkeylen"   ? &seenKeyLength
                                           : nullptr;
        const std::string name = joined({"stream ", key});
        if (!seen) {
            failure = joined({"stream address: unknown option '", key,
                              "' (it takes mode, passphrase, latency and pbkeylen)"});
            return false;
        }
        if (*seen) {
            failure = name + ": given twice";
            return false;
        }
        *seen = true;
        const auto decoded =
            percentDecoded(equals == std::string_view::npos ? "" : field.substr(equals + 1));
        if (!decoded) {
            failure = name + ": '%' must start an escape of two hex digits (%25 for '%' itself)";
            return false;
        }
        const std::string& text = *decoded;
        if (key == "mode") {
            if (text != "listener" && text != "caller") {
                failure = joined({name, ": must be listener or caller, not '", text, "'"});
                return false;
            }
            out.mode =
                text == "caller" ? StreamSettings::Mode::caller : StreamSettings::Mode::listener;
        } else if (key == "passphrase") {
            if (text.size() < 10 || text.size() > 79 || text.find('\0') != std::string::npos) {
                failure = joined({name, ": must be 10 to 79 characters (bytes, no %00), not ",
                                  std::to_string(text.size())});
                return false;
            }
            out.passphrase = text;
        } else if (key == "latency") {
            const auto ms = number(text, 0, 60000);
            if (!ms) {
                failure = joined(
                    {name, ": must be a number of milliseconds from 0 to 60000, not '", text, "'"});
                return false;
            }
            out.latency = *ms;
        } else {
            const auto bytes = number(text, 16, 32);
            if (!bytes || *bytes % 8) {
                failure = joined({name, ": must be 16, 24 or 32, not '", text, "'"});
                return false;
            }
            out.keyLength = *bytes;
        }
    }
    if (out.keyLength && out.passphrase.empty()) {
        failure = "stream pbkeylen: needs a passphrase";
        return false;
    }
    return true;
}

}  // namespace

std::string StreamSettings::endpoint() const {
    const bool v6 = host.find(':') != std::string::npos;
    return joined({v6 ? "[" : "", host, v6 ? "]:" : ":", std::to_string(port)});
}

bool StreamSettings::exposed() const {
    if (!streams() || mode != Mode::listener || !passphrase.empty()) return false;
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) != 127;
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return !IN6_IS_ADDR_LOOPBACK(&v6);
    return host != "localhost";
}

bool StreamSettings::apply(std::string_view key, std::string_view value, std::string& failure) {
    if (key == "stream") {
        StreamSettings parsed = *this;
        parsed.mode = Mode::listener;
        parsed.passphrase.clear();
        parsed.latency = StreamSettings().latency;
        parsed.keyLength = 0;
        if (!parseAddress(value, parsed, failure)) return false;
        *this = parsed;
        return true;
    }
    if (key == "stream-size") {
        const size_t x = std::min(value.find('x'), value.size());
        const auto w = number(value.substr(0, x), 16, 7680);
        const auto h = number(value.substr(std::min(x + 1, value.size())), 16, 4320);
        if (!w || !h || *w % 2 || *h % 2) {
            failure =
                joined({"stream-size: must be WxH with even numbers from 16x16 to 7680x4320, "
                        "not '",
                        value, "'"});
            return false;
        }
        width = *w, height = *h;
        return true;
    }
    if (key == "stream-fps") {
        const auto rate = number(value, 1, 240);
        if (!rate) {
            failure =
                joined({"stream-fps: must be a number of frames per second from 1 to 240, "
                        "not '",
                        value, "'"});
            return false;
        }
        fps = *rate;
        return true;
    }
    failure =
        joined({"unknown setting '", key,
                "' (camera-name, stream, stream-size, stream-fps, record or record-quality)"});
    return false;
}

bool StreamSettings::applyFile(const std::filesystem::path& file, std::string& failure) {
    return readSettingsFile(
        file,
        [this](std::string_view key, std::string_view value, std::string& why) {
            return apply(key, value, why);
        },
        failure);
}
