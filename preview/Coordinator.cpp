#include "preview/Coordinator.h"

#include "gpu/CommandQueue.h"
#include "gpu/Device.h"
#include "gpu/Texture.h"
#include "preview/FatalReport.h"
#include "preview/RenderPipeline.h"
#include "preview/TextureGLView.h"
#include "preview/UploadedTexture.h"

namespace {
constexpr std::string_view fatalLocation = "LMVuzadivirur/MetalTextureView";
}

MetalTextureView::Coordinator::Coordinator(std::shared_ptr<gpu::Device> device,
                                           std::shared_ptr<gpu::Texture> texture)
    : Coordinator(std::move(device), std::move(texture), ShaderLibrary::defaultLibrary()) {}

MetalTextureView::Coordinator::Coordinator(std::shared_ptr<gpu::Device> device,
                                           std::shared_ptr<gpu::Texture> texture,
                                           std::optional<ShaderLibrary> library)
    : device_(std::move(device)), texture_(std::move(texture)) {
    commandQueue_ = device_ ? device_->newCommandQueue() : nullptr;
    if (!commandQueue_) fatalReport(fatalLocation);
    if (!library) fatalReport(fatalLocation);
    // A missing function is not reported here: it makes the program fail to build.
    vertexFunction_ = library->newFunctionWithName("textureVertexShader");
    fragmentFunction_ = library->newFunctionWithName("textureFragmentShader");
}

// Out of line, where the GL object types are complete. The view has released them by now: it
// keeps its delegate alive for as long as its context exists.
MetalTextureView::Coordinator::~Coordinator() = default;

void MetalTextureView::Coordinator::contextDidCreate(QOpenGLFunctions_3_3_Core& gl) {
    contextWillDestroy();
    std::string error;
    pipelineState_ = RenderPipeline::make(gl, vertexFunction_, fragmentFunction_, error);
    if (!pipelineState_) fatalReport(fatalLocation, error);
    uploaded_ = std::make_unique<UploadedTexture>(gl);
}

void MetalTextureView::Coordinator::contextWillDestroy() {
    uploaded_.reset();
    pipelineState_.reset();
}

void MetalTextureView::Coordinator::drawableSizeWillChange(TextureGLView&, double, double) {}

void MetalTextureView::Coordinator::draw(TextureGLView& view) {
    QOpenGLFunctions_3_3_Core* gl = view.glFunctions();
    const QSize drawable = view.drawableSize();
    if (!gl || !pipelineState_ || !uploaded_ || drawable.isEmpty()) return;
    const std::shared_ptr<gpu::Texture> texture = texture_;
    if (!texture) return;
    const std::shared_ptr<gpu::CommandBuffer> commandBuffer = commandQueue_->commandBuffer();
    if (!commandBuffer) return;
    const GLuint framebuffer = view.defaultFramebufferObject();

    // The work holds the texture until it has run, whatever is handed over meanwhile.
    commandBuffer->encode([this, gl, framebuffer, drawable, texture] {
        gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl->glViewport(0, 0, drawable.width(), drawable.height());
        gl->glDisable(GL_BLEND);
        gl->glDisable(GL_SCISSOR_TEST);
        gl->glDisable(GL_DEPTH_TEST);
        gl->glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        pipelineState_->bind();
        switch (uploaded_->bind(texture)) {
            case UploadedTexture::Upload::NewImage:
                ++textureAllocations_;
                [[fallthrough]];
            case UploadedTexture::Upload::SubImage:
                ++uploads_;
                break;
            case UploadedTexture::Upload::None:
                break;
        }
        gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        gl->glBindVertexArray(0);
        gl->glBindSampler(0, 0);
        gl->glUseProgram(0);
        ++draws_;
    });
    commandBuffer->commit();
}

MetalTextureView::Coordinator::Counters MetalTextureView::Coordinator::counters() const {
    return Counters{draws_, uploads_, textureAllocations_};
}
