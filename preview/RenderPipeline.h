#pragma once

#include <QOpenGLFunctions_3_3_Core>
#include <memory>
#include <optional>
#include <string>

// The preview's linked shader program with what drawing it needs in a core profile: an empty
// vertex array (the vertex shader makes the corners itself) and a sampler of its own at unit 0.
// Belongs to the GL context it was made in, which must be current when it is destroyed.
class RenderPipeline {
    struct Token {};

  public:
    // None when a function is missing or the program does not compile or link; `error` then
    // holds what went wrong, with the GL compiler or linker log.
    static std::unique_ptr<RenderPipeline> make(QOpenGLFunctions_3_3_Core& gl,
                                                const std::optional<std::string>& vertexFunction,
                                                const std::optional<std::string>& fragmentFunction,
                                                std::string& error);

    RenderPipeline(Token, QOpenGLFunctions_3_3_Core& gl, GLuint program);
    ~RenderPipeline();
    RenderPipeline(const RenderPipeline&) = delete;
    RenderPipeline& operator=(const RenderPipeline&) = delete;

    // Makes the program, its vertex array and its sampler (unit 0) current for a draw.
    void bind();

  private:
    QOpenGLFunctions_3_3_Core& gl_;
    GLuint program_ = 0;
    GLuint vertexArray_ = 0;
    GLuint sampler_ = 0;
};
