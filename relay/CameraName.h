#pragma once

#include <set>
#include <string>
#include <string_view>

// The names a camera goes by in PipeWire.
namespace cameraName {

// The node.name for a camera listed as `description`: lower-case letters and digits, with a '-'
// for each run of anything else ("Show Cam (2)" is "show-cam-2").
std::string nodeName(std::string_view description);

// `wanted`, or the first of "wanted (2)", "wanted (3)", ... that is not in `taken`.
std::string firstFree(const std::string& wanted, const std::set<std::string>& taken);

}  // namespace cameraName
