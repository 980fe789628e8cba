#include "preview/RetainedDrawable.h"

#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif

std::unique_ptr<RetainedDrawable> RetainedDrawable::make(QOpenGLFunctions_3_3_Core& gl, QSize size,
                                                         RowOrder order) {
    if (size.isEmpty()) return nullptr;
    auto drawable = std::make_unique<RetainedDrawable>(Token{}, gl, size, order);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, drawable->framebuffer_);
    const bool complete = gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        gl.glDisable(GL_SCISSOR_TEST);
        gl.glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        gl.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        gl.glClear(GL_COLOR_BUFFER_BIT);
    }
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete) return nullptr;
    return drawable;
}

RetainedDrawable::RetainedDrawable(Token, QOpenGLFunctions_3_3_Core& gl, QSize size, RowOrder order)
    : gl_(gl), size_(size), order_(order) {
    gl_.glGenTextures(1, &texture_);
    gl_.glBindTexture(GL_TEXTURE_2D, texture_);
    gl_.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    gl_.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    // The unsized format with BGRA texels keeps them in BGRA order, as a window's are: the
    // driver draws into it on its fast path, and the copy to the window moves rows unconverted.
    gl_.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, size.width(), size.height(), 0, GL_BGRA,
                     GL_UNSIGNED_BYTE, nullptr);
    gl_.glBindTexture(GL_TEXTURE_2D, 0);
    gl_.glGenFramebuffers(1, &framebuffer_);
    gl_.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    gl_.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture_, 0);
    gl_.glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

RetainedDrawable::~RetainedDrawable() {
    gl_.glDeleteFramebuffers(1, &framebuffer_);
    gl_.glDeleteTextures(1, &texture_);
}

void RetainedDrawable::present(GLuint target) {
    const int w = size_.width();
    const int h = size_.height();
    gl_.glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    gl_.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
    gl_.glDisable(GL_SCISSOR_TEST);
    gl_.glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    if (order_ == RowOrder::TopRowFirst) {
        // Row 0, the top, goes to the window's top; in GL's coordinates, upside down.
        gl_.glBlitFramebuffer(0, 0, w, h, 0, h, w, 0, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    } else {
        gl_.glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    }
    gl_.glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

QImage RetainedDrawable::read() {
    QImage image(size_, QImage::Format_RGB32);
    if (image.isNull()) return image;
    gl_.glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    gl_.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    gl_.glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl_.glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    gl_.glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    gl_.glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    // 0xAARRGGBB words, as Format_RGB32 holds them on any byte order.
    gl_.glReadPixels(0, 0, size_.width(), size_.height(), GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                     image.bits());
    gl_.glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    // The picture is shown opaque, whatever alpha the frame carried; Format_RGB32 wants 0xff there.
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) row[x] |= 0xff000000u;
    }
    if (order_ == RowOrder::BottomRowFirst) return image.mirrored(false, true);
    return image;
}
