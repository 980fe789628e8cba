#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "preview/Renderer.h"
#include "shaders/ShaderSources.h"

class RenderPipeline;
class UploadedTexture;

namespace gpu {
class Texture;
}  // namespace gpu

// Draws the texture it was last handed into its view: the renderer of one shown preview
// (see PreviewWidget). Textures are handed over on the main thread and drawn on the view's render
// thread.
class PreviewRenderer : public Renderer {
    struct Token {};

  public:
    // A renderer with the pipeline's shaders from `library` (the built-in one by default); none
    // when there is no library.
    static std::shared_ptr<PreviewRenderer> make(
        std::shared_ptr<gpu::Texture> texture,
        std::optional<ShaderSources> library = ShaderSources::builtIn());
    PreviewRenderer(Token, std::shared_ptr<gpu::Texture> texture, const ShaderSources& library);
    ~PreviewRenderer() override;
    PreviewRenderer(const PreviewRenderer&) = delete;
    PreviewRenderer& operator=(const PreviewRenderer&) = delete;

    std::shared_ptr<gpu::Texture> texture() const;
    // Replaces the texture the next draw shows; nothing else.
    void setTexture(std::shared_ptr<gpu::Texture> texture);

    // Builds the shader program in the view's context; false, with the GL compiler or linker
    // log in `error`, when it does not compile or link.
    bool contextCreated(QOpenGLFunctions_3_3_Core& gl, std::string& error) override;
    void contextAboutToBeDestroyed() override;
    // The next draw fills the new drawable, so nothing is to be done.
    void resized(QSize size) override;
    // Clears the drawable to opaque black and draws the texture over all of it. Skips silently
    // when there is no texture or no program.
    void draw(const Target& target) override;

    // What the GPU has been asked to do, for tests and diagnostics.
    struct Counters {
        uint64_t draws = 0;               // draws that drew a texture
        uint64_t uploads = 0;             // texture objects uploaded
        uint64_t textureAllocations = 0;  // GL textures (re)defined for a new size
    };
    Counters counters() const;

  private:
    // The pipeline's two functions, taken from the library at construction; the program itself
    // belongs to a GL context, so it is linked when the view's context comes up.
    std::optional<std::string> vertexFunction_;
    std::optional<std::string> fragmentFunction_;
    std::unique_ptr<RenderPipeline> pipelineState_;
    std::unique_ptr<UploadedTexture> uploaded_;
    mutable std::mutex mutex_;  // for the two below, shared by both threads
    std::shared_ptr<gpu::Texture> texture_;
    Counters counters_;
};
