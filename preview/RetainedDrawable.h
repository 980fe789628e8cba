#pragma once

#include <QImage>
#include <QOpenGLFunctions_3_3_Core>
#include <QSize>
#include <memory>

// The picture the preview draws into and keeps: a framebuffer of the drawable's size whose
// contents stay until the next draw, so that a skipped draw leaves the last picture, an exposed
// window is shown it again, and it can be read back. Belongs to the GL context it was made in,
// which must be current whenever it is used or destroyed.
class RetainedDrawable {
    struct Token {};

  public:
    // How the picture's rows lie in the framebuffer. TopRowFirst (drawn with the clip origin at
    // the upper left) is the order of a window's pixels, so putting it on screen is a plain copy;
    // BottomRowFirst is GL's own order, which a copy to a window must turn over row by row.
    enum class RowOrder { TopRowFirst, BottomRowFirst };

    // A complete framebuffer of `size` (not empty), cleared to opaque black; none when the driver
    // cannot make one.
    static std::unique_ptr<RetainedDrawable> make(QOpenGLFunctions_3_3_Core& gl, QSize size,
                                                  RowOrder order);

    RetainedDrawable(Token, QOpenGLFunctions_3_3_Core& gl, QSize size, RowOrder order);
    ~RetainedDrawable();
    RetainedDrawable(const RetainedDrawable&) = delete;
    RetainedDrawable& operator=(const RetainedDrawable&) = delete;

    GLuint framebuffer() const { return framebuffer_; }
    QSize size() const { return size_; }
    RowOrder rowOrder() const { return order_; }

    // Copies the picture, upright, into `target` (a window's default framebuffer) of the same size.
    void present(GLuint target);
    // The picture, top row first, opaque.
    QImage read();

  private:
    QOpenGLFunctions_3_3_Core& gl_;
    QSize size_;
    RowOrder order_;
    GLuint texture_ = 0;
    GLuint framebuffer_ = 0;
};
