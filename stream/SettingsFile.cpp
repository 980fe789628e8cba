#include "stream/SettingsFile.h"

#include <fstream>

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

bool readSettingsFile(const std::filesystem::path& file,
                      const std::function<bool(std::string_view key, std::string_view value,
                                               std::string& failure)>& apply,
                      std::string& failure) {
    std::ifstream in(file);
    if (!in) return true;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string_view text = trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        const size_t equals = text.find('=');
        if (equals == std::string_view::npos) failure = "a line must be key=value";
        if (equals == std::string_view::npos ||
            !apply(trimmed(text.substr(0, equals)), trimmed(text.substr(equals + 1)), failure)) {
            failure = file.string() + ":" + std::to_string(number) + ": " + failure;
            return false;
        }
    }
    return true;
}
