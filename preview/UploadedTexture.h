#pragma once

#include <QOpenGLFunctions_3_3_Core>
#include <cstdint>
#include <memory>

namespace gpu {
class Texture;
}

// The GL texture a renderer draws from. A frame texture keeps its texels in CPU memory; they
// are uploaded here once per texture object, into the same GL texture while the size stays.
// Belongs to the GL context it was made in, which must be current when it is destroyed.
class UploadedTexture {
  public:
    enum class Upload { None, SubImage, NewImage };

    explicit UploadedTexture(QOpenGLFunctions_3_3_Core& gl);
    ~UploadedTexture();
    UploadedTexture(const UploadedTexture&) = delete;
    UploadedTexture& operator=(const UploadedTexture&) = delete;

    // Binds the GL texture to the active unit, first uploading `texture` unless it is the texture
    // object uploaded last. Says what was uploaded.
    Upload bind(const std::shared_ptr<gpu::Texture>& texture);

  private:
    QOpenGLFunctions_3_3_Core& gl_;
    GLuint name_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    // Weak, so that a texture is not kept alive by its upload, and a new texture that happens to
    // get a released one's address is not taken for it.
    std::weak_ptr<gpu::Texture> source_;
};
