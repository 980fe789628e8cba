#include "relay/CameraName.h"

namespace cameraName {

std::string nodeName(std::string_view description) {
    std::string name;
    bool gap = false;
    for (const char c : description) {
        const bool digit = c >= '0' && c <= '9', lower = c >= 'a' && c <= 'z';
        const bool upper = c >= 'A' && c <= 'Z';
        if (!digit && !lower && !upper) {
            gap = !name.empty();
            continue;
        }
        if (gap) name += '-';
        gap = false;
        name += upper ? char(c - 'A' + 'a') : c;
    }
    // A name of letters outside ASCII alone still names a node.
    return name.empty() ? "camera" : name;
}

std::string firstFree(const std::string& wanted, const std::set<std::string>& taken) {
    std::string name = wanted;
    for (int n = 2; taken.contains(name); ++n) name = wanted + " (" + std::to_string(n) + ")";
    return name;
}

}  // namespace cameraName
