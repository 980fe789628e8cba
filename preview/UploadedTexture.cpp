#include "preview/UploadedTexture.h"

#include "gpu/Texture.h"

#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif

UploadedTexture::UploadedTexture(QOpenGLFunctions_3_3_Core& gl) : gl_(gl) {
    gl_.glGenTextures(1, &name_);
    gl_.glBindTexture(GL_TEXTURE_2D, name_);
    // One level only: the texture is complete with its base level alone.
    gl_.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    gl_.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    gl_.glBindTexture(GL_TEXTURE_2D, 0);
}

UploadedTexture::~UploadedTexture() { gl_.glDeleteTextures(1, &name_); }

UploadedTexture::Upload UploadedTexture::bind(const std::shared_ptr<gpu::Texture>& texture) {
    gl_.glBindTexture(GL_TEXTURE_2D, name_);
    if (!texture || source_.lock() == texture) return Upload::None;

    // The texels are tightly packed BGRA rows, row 0 first, straight from CPU memory.
    gl_.glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    gl_.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl_.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl_.glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    gl_.glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    const auto width = static_cast<GLsizei>(texture->width());
    const auto height = static_cast<GLsizei>(texture->height());
    Upload upload = Upload::SubImage;
    if (texture->width() != width_ || texture->height() != height_) {
        // The unsized format lets the driver keep the texels in the source's BGRA order, so that
        // an upload is a plain copy (on llvmpipe a third of the time a sized GL_RGBA8 takes).
        gl_.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                         texture->contents());
        width_ = texture->width();
        height_ = texture->height();
        upload = Upload::NewImage;
    } else {
        gl_.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE,
                            texture->contents());
    }
    source_ = texture;
    return upload;
}
