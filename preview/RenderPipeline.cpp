#include "preview/RenderPipeline.h"

#include <vector>

namespace {

// The frame texture is bound at this unit.
constexpr GLint textureUnit = 0;

// The info log of a shader or a program, read with the matching pair of GL calls.
std::string infoLog(QOpenGLFunctions_3_3_Core& gl, GLuint name,
                    void (QOpenGLFunctions_3_3_Core::*getLength)(GLuint, GLenum, GLint*),
                    void (QOpenGLFunctions_3_3_Core::*getLog)(GLuint, GLsizei, GLsizei*, GLchar*)) {
    GLint length = 0;
    (gl.*getLength)(name, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(std::max(length, 1)), '\0');
    (gl.*getLog)(name, static_cast<GLsizei>(log.size()), nullptr, log.data());
    return log.data();
}

// A compiled shader, deleted when it goes out of scope (the program keeps what it linked).
class Shader {
  public:
    Shader(QOpenGLFunctions_3_3_Core& gl, GLenum stage)
        : gl_(gl), name_(gl.glCreateShader(stage)) {}
    ~Shader() { gl_.glDeleteShader(name_); }
    Shader(const Shader&) = delete;
    Shader& operator=(const Shader&) = delete;

    bool compile(const std::string& source, std::string& log) {
        const GLchar* text = source.c_str();
        const auto length = static_cast<GLint>(source.size());
        gl_.glShaderSource(name_, 1, &text, &length);
        gl_.glCompileShader(name_);
        GLint compiled = GL_FALSE;
        gl_.glGetShaderiv(name_, GL_COMPILE_STATUS, &compiled);
        if (compiled == GL_TRUE) return true;
        log = infoLog(gl_, name_, &QOpenGLFunctions_3_3_Core::glGetShaderiv,
                      &QOpenGLFunctions_3_3_Core::glGetShaderInfoLog);
        return false;
    }
    GLuint name() const { return name_; }

  private:
    QOpenGLFunctions_3_3_Core& gl_;
    GLuint name_;
};

bool compileFunction(Shader& shader, const char* functionName,
                     const std::optional<std::string>& source, std::string& error) {
    if (!source) {
        error = std::string("no function ") + functionName + " in the shader library";
        return false;
    }
    std::string log;
    if (shader.compile(*source, log)) return true;
    error = std::string(functionName) + " did not compile: " + log;
    return false;
}

}  // namespace

std::unique_ptr<RenderPipeline> RenderPipeline::make(
    QOpenGLFunctions_3_3_Core& gl, const std::optional<std::string>& vertexFunction,
    const std::optional<std::string>& fragmentFunction, std::string& error) {
    Shader vertex(gl, GL_VERTEX_SHADER);
    Shader fragment(gl, GL_FRAGMENT_SHADER);
    if (!compileFunction(vertex, "textureVertexShader", vertexFunction, error) ||
        !compileFunction(fragment, "textureFragmentShader", fragmentFunction, error)) {
        return nullptr;
    }
    const GLuint program = gl.glCreateProgram();
    gl.glAttachShader(program, vertex.name());
    gl.glAttachShader(program, fragment.name());
    gl.glLinkProgram(program);
    gl.glDetachShader(program, vertex.name());
    gl.glDetachShader(program, fragment.name());
    GLint linked = GL_FALSE;
    gl.glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        error = "the preview program did not link: " +
                infoLog(gl, program, &QOpenGLFunctions_3_3_Core::glGetProgramiv,
                        &QOpenGLFunctions_3_3_Core::glGetProgramInfoLog);
        gl.glDeleteProgram(program);
        return nullptr;
    }
    return std::make_unique<RenderPipeline>(Token{}, gl, program);
}

RenderPipeline::RenderPipeline(Token, QOpenGLFunctions_3_3_Core& gl, GLuint program)
    : gl_(gl), program_(program) {
    gl_.glGenVertexArrays(1, &vertexArray_);
    gl_.glGenSamplers(1, &sampler_);
    gl_.glSamplerParameteri(sampler_, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl_.glSamplerParameteri(sampler_, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl_.glSamplerParameteri(sampler_, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl_.glSamplerParameteri(sampler_, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    // Whatever the fragment shader calls its sampler, it reads unit 0.
    gl_.glUseProgram(program_);
    GLint count = 0;
    gl_.glGetProgramiv(program_, GL_ACTIVE_UNIFORMS, &count);
    for (GLint i = 0; i < count; ++i) {
        GLchar name[256];
        GLint size = 0;
        GLenum type = 0;
        gl_.glGetActiveUniform(program_, static_cast<GLuint>(i), sizeof name, nullptr, &size, &type,
                               name);
        if (type == GL_SAMPLER_2D) {
            gl_.glUniform1i(gl_.glGetUniformLocation(program_, name), textureUnit);
        }
    }
    gl_.glUseProgram(0);
}

RenderPipeline::~RenderPipeline() {
    gl_.glDeleteSamplers(1, &sampler_);
    gl_.glDeleteVertexArrays(1, &vertexArray_);
    gl_.glDeleteProgram(program_);
}

void RenderPipeline::bind() {
    gl_.glUseProgram(program_);
    gl_.glBindVertexArray(vertexArray_);
    gl_.glBindSampler(textureUnit, sampler_);
    gl_.glActiveTexture(GL_TEXTURE0 + textureUnit);
}
