#pragma once

#include <map>
#include <optional>
#include <string>

// The shaders the preview is built from: GLSL 330 core sources, one per shader, looked up by
// name. The built-in set is compiled into the binary as Qt resources.
class ShaderSources {
  public:
    // The set built into the binary, or none when its resources are missing.
    static std::optional<ShaderSources> builtIn();

    // A set of the given sources keyed by name (tests feed broken shaders).
    explicit ShaderSources(std::map<std::string, std::string> functions)
        : functions_(std::move(functions)) {}

    // The source of the named shader, or none when the set has no such shader.
    std::optional<std::string> source(const std::string& name) const;

    const std::map<std::string, std::string>& functions() const { return functions_; }

  private:
    std::map<std::string, std::string> functions_;
};
