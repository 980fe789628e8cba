#include "preview/PreviewRenderer.h"

#include "gpu/Texture.h"
#include "preview/RenderPipeline.h"
#include "preview/UploadedTexture.h"

std::shared_ptr<PreviewRenderer> PreviewRenderer::make(std::shared_ptr<gpu::Texture> texture,
                                                       std::optional<ShaderSources> library) {
    if (!library) return nullptr;
    return std::make_shared<PreviewRenderer>(Token{}, std::move(texture), *library);
}

// A missing shader is not reported here: it makes the program fail to build.
PreviewRenderer::PreviewRenderer(Token, std::shared_ptr<gpu::Texture> texture,
                                 const ShaderSources& library)
    : vertexFunction_(library.source("textureVertexShader")),
      fragmentFunction_(library.source("textureFragmentShader")),
      texture_(std::move(texture)) {}

// Out of line, where the GL object types are complete. The view has released them by now: it
// keeps its renderer alive for as long as its context exists.
PreviewRenderer::~PreviewRenderer() = default;

std::shared_ptr<gpu::Texture> PreviewRenderer::texture() const {
    std::lock_guard lock(mutex_);
    return texture_;
}

void PreviewRenderer::setTexture(std::shared_ptr<gpu::Texture> texture) {
    std::lock_guard lock(mutex_);
    // The old texture goes with the argument, once the lock is let go.
    texture_.swap(texture);
}

PreviewRenderer::Counters PreviewRenderer::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

bool PreviewRenderer::contextCreated(QOpenGLFunctions_3_3_Core& gl, std::string& error) {
    contextAboutToBeDestroyed();
    pipelineState_ = RenderPipeline::make(gl, vertexFunction_, fragmentFunction_, error);
    if (!pipelineState_) return false;
    uploaded_ = std::make_unique<UploadedTexture>(gl);
    return true;
}

void PreviewRenderer::contextAboutToBeDestroyed() {
    uploaded_.reset();
    pipelineState_.reset();
}

void PreviewRenderer::resized(QSize) {}

void PreviewRenderer::draw(const Target& target) {
    if (!pipelineState_ || !uploaded_ || target.size.isEmpty()) return;
    const std::shared_ptr<gpu::Texture> texture = this->texture();
    if (!texture) return;  // held until the draw is done, whatever is handed over meanwhile

    QOpenGLFunctions_3_3_Core& gl = target.gl;
    gl.glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    gl.glViewport(0, 0, target.size.width(), target.size.height());
    gl.glDisable(GL_BLEND);
    gl.glDisable(GL_SCISSOR_TEST);
    gl.glDisable(GL_DEPTH_TEST);
    gl.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl.glClear(GL_COLOR_BUFFER_BIT);
    pipelineState_->bind();
    const auto upload = uploaded_->bind(texture);
    gl.glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    gl.glBindVertexArray(0);
    gl.glBindSampler(0, 0);
    gl.glUseProgram(0);
    std::lock_guard lock(mutex_);
    counters_.uploads += upload != UploadedTexture::Upload::None;
    counters_.textureAllocations += upload == UploadedTexture::Upload::NewImage;
    ++counters_.draws;
}
