#include "stream/RecordingSettings.h"

namespace {

constexpr std::string_view suffix = ".mkv";

}  // namespace

bool RecordingSettings::takes(std::string_view key) {
    return key == "record" || key == "record-quality";
}

bool RecordingSettings::apply(std::string_view key, std::string_view value, std::string& failure) {
    if (key == "record") {
        // Matroska only: an MP4 file is unreadable until its index is written at the end, so a
        // crash would lose the whole show.
        if (value.size() <= suffix.size() || !value.ends_with(suffix) || value.ends_with("/.mkv")) {
            failure = "record: must name a file ending in .mkv (H.264 in Matroska), not '";
            failure.append(value).append("'");
            return false;
        }
        path = value;
        return true;
    }
    if (key == "record-quality") {
        if (value != "standard" && value != "lossless") {
            failure = "record-quality: must be standard or lossless, not '";
            failure.append(value).append("'");
            return false;
        }
        quality = value == "lossless" ? Quality::lossless : Quality::standard;
        return true;
    }
    failure = "unknown setting '";
    failure.append(key).append("' (record or record-quality)");
    return false;
}
