#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// Takes the "key=value" lines of a configuration file, each through `apply`; blank lines and
// lines starting with '#' are skipped. A missing file is no failure. False at the first line
// `apply` refuses (or that is not key=value), with `failure` starting "FILE:LINE: ".
bool readSettingsFile(const std::filesystem::path& file,
                      const std::function<bool(std::string_view key, std::string_view value,
                                               std::string& failure)>& apply,
                      std::string& failure);
