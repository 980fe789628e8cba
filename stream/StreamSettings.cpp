#include "stream/StreamSettings.h"

#include <charconv>
#include <fstream>

namespace {

bool parseNumber(std::string_view text, uint32_t& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size() && out > 0;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

bool StreamSettings::apply(std::string_view key, std::string_view value, std::string& failure) {
    if (key == "stream") {
        if (value.substr(0, 6) != "srt://" || value.size() <= 6) {
            failure =
                "the stream address must be srt://HOST:PORT, not '" + std::string(value) + "'";
            return false;
        }
        uri = value;
        return true;
    }
    if (key == "stream-size") {
        const auto x = value.find('x');
        if (x == std::string_view::npos || !parseNumber(value.substr(0, x), width) ||
            !parseNumber(value.substr(x + 1), height) || width % 2 || height % 2) {
            failure =
                "the stream size must be WxH with even numbers, not '" + std::string(value) + "'";
            return false;
        }
        return true;
    }
    if (key == "stream-fps") {
        if (!parseNumber(value, fps) || fps > 240) {
            failure = "the stream rate must be a number of frames per second from 1 to 240, not '" +
                      std::string(value) + "'";
            return false;
        }
        return true;
    }
    failure = "unknown setting '" + std::string(key) + "'";
    return false;
}

bool StreamSettings::applyFile(const std::filesystem::path& file, std::string& failure) {
    std::ifstream in(file);
    if (!in) return true;
    std::string line;
    while (std::getline(in, line)) {
        const std::string_view text = trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        const auto equals = text.find('=');
        if (equals == std::string_view::npos ||
            !apply(trimmed(text.substr(0, equals)), trimmed(text.substr(equals + 1)), failure)) {
            if (equals == std::string_view::npos)
                failure = "'" + std::string(text) + "' is no key=value";
            failure = file.string() + ": " + failure;
            return false;
        }
    }
    return true;
}
