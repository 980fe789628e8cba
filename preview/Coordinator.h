#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "preview/MetalTextureView.h"
#include "shaders/ShaderLibrary.h"

class QOpenGLFunctions_3_3_Core;
class TextureGLView;
class RenderPipeline;
class UploadedTexture;

namespace gpu {
class CommandQueue;
}

// Draws the texture it was last handed into its view. One per shown preview; it lives on the
// main thread, and the view calls it with the view's GL context current.
class MetalTextureView::Coordinator {
  public:
    // Takes the device's command queue and the shader functions of the built-in library; stops
    // the process when there is no command queue or no shader library.
    Coordinator(std::shared_ptr<gpu::Device> device, std::shared_ptr<gpu::Texture> texture);
    // The same with another shader library in place of the built-in one; none stops the process.
    Coordinator(std::shared_ptr<gpu::Device> device, std::shared_ptr<gpu::Texture> texture,
                std::optional<ShaderLibrary> library);
    ~Coordinator();
    Coordinator(const Coordinator&) = delete;
    Coordinator& operator=(const Coordinator&) = delete;

    const std::shared_ptr<gpu::Device>& device() const { return device_; }
    const std::shared_ptr<gpu::CommandQueue>& commandQueue() const { return commandQueue_; }
    const std::shared_ptr<gpu::Texture>& texture() const { return texture_; }
    // Replaces the texture the next draw shows; nothing else.
    void setTexture(std::shared_ptr<gpu::Texture> texture) { texture_ = std::move(texture); }

    // The view's GL context is up: builds the shader program in it. A program that does not
    // compile or link stops the process with a fatal report carrying the GL log.
    void contextDidCreate(QOpenGLFunctions_3_3_Core& gl);
    // The view's GL context is about to go: releases every GL object made in it.
    void contextWillDestroy();

    // The drawable changed size; the next draw fills the new one, so nothing is to be done.
    void drawableSizeWillChange(TextureGLView& view, double width, double height);
    // Clears the view's drawable to opaque black and draws the texture over all of it. Skips
    // silently when there is no drawable, no texture or no command buffer.
    void draw(TextureGLView& view);

    // What the GPU has been asked to do, for tests and diagnostics.
    struct Counters {
        uint64_t draws = 0;               // draws that drew a texture
        uint64_t uploads = 0;             // texture objects uploaded
        uint64_t textureAllocations = 0;  // GL textures (re)defined for a new size
    };
    Counters counters() const;

  private:
    std::shared_ptr<gpu::Device> device_;
    std::shared_ptr<gpu::CommandQueue> commandQueue_;
    // The pipeline's two functions, taken from the library at construction; the program itself
    // belongs to a GL context, so it is linked when the view's context comes up.
    std::optional<std::string> vertexFunction_;
    std::optional<std::string> fragmentFunction_;
    std::unique_ptr<RenderPipeline> pipelineState_;
    std::shared_ptr<gpu::Texture> texture_;
    std::unique_ptr<UploadedTexture> uploaded_;
    uint64_t draws_ = 0;
    uint64_t uploads_ = 0;
    uint64_t textureAllocations_ = 0;
};
