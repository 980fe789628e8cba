#include "preview/Coordinator.h"

#include "gpu/CommandQueue.h"
#include "gpu/Device.h"
#include "gpu/Texture.h"
#include "preview/RenderPipeline.h"
#include "preview/UploadedTexture.h"

std::shared_ptr<Coordinator> Coordinator::make(std::shared_ptr<gpu::Device> device,
                                               std::shared_ptr<gpu::Texture> texture,
                                               std::optional<ShaderLibrary> library) {
    auto commandQueue = device ? device->newCommandQueue() : nullptr;
    if (!commandQueue || !library) return nullptr;
    return std::make_shared<Coordinator>(Token{}, std::move(device), std::move(commandQueue),
                                         std::move(texture), *library);
}

Coordinator::Coordinator(Token, std::shared_ptr<gpu::Device> device,
                         std::shared_ptr<gpu::CommandQueue> commandQueue,
                         std::shared_ptr<gpu::Texture> texture, const ShaderLibrary& library)
    : device_(std::move(device)),
      commandQueue_(std::move(commandQueue)),
      // A missing function is not reported here: it makes the program fail to build.
      vertexFunction_(library.newFunctionWithName("textureVertexShader")),
      fragmentFunction_(library.newFunctionWithName("textureFragmentShader")),
      texture_(std::move(texture)) {}

// Out of line, where the GL object types are complete. The view has released them by now: it
// keeps its renderer alive for as long as its context exists.
Coordinator::~Coordinator() = default;

std::shared_ptr<gpu::Texture> Coordinator::texture() const {
    std::lock_guard lock(mutex_);
    return texture_;
}

void Coordinator::setTexture(std::shared_ptr<gpu::Texture> texture) {
    std::lock_guard lock(mutex_);
    // The old texture goes with the argument, once the lock is let go.
    texture_.swap(texture);
}

Coordinator::Counters Coordinator::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

bool Coordinator::contextDidCreate(QOpenGLFunctions_3_3_Core& gl, std::string& error) {
    contextWillDestroy();
    pipelineState_ = RenderPipeline::make(gl, vertexFunction_, fragmentFunction_, error);
    if (!pipelineState_) return false;
    uploaded_ = std::make_unique<UploadedTexture>(gl);
    return true;
}

void Coordinator::contextWillDestroy() {
    uploaded_.reset();
    pipelineState_.reset();
}

void Coordinator::drawableSizeWillChange(QSize) {}

void Coordinator::draw(const Target& target) {
    if (!pipelineState_ || !uploaded_ || target.size.isEmpty()) return;
    const std::shared_ptr<gpu::Texture> texture = this->texture();
    if (!texture) return;
    const std::shared_ptr<gpu::CommandBuffer> commandBuffer = commandQueue_->commandBuffer();
    if (!commandBuffer) return;

    // The work holds the texture until it has run, whatever is handed over meanwhile.
    commandBuffer->encode([this, target, texture] {
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
    });
    commandBuffer->commit();
}
