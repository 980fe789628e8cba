#pragma once

#include <map>
#include <optional>
#include <string>

// The shader functions the preview is built from: GLSL 330 core sources, one per function,
// looked up by function name. The default library is compiled into the binary as Qt resources.
class ShaderSources {
  public:
    // The library built into the binary, or none when its resources are missing.
    static std::optional<ShaderSources> builtIn();

    // A library of the given sources keyed by function name (tests feed broken shaders).
    explicit ShaderSources(std::map<std::string, std::string> functions)
        : functions_(std::move(functions)) {}

    // The source of the named function, or none when the library has no such function.
    std::optional<std::string> source(const std::string& name) const;

    const std::map<std::string, std::string>& functions() const { return functions_; }

  private:
    std::map<std::string, std::string> functions_;
};
