#pragma once

#include <QOpenGLFunctions_3_3_Core>
#include <QSize>
#include <string>

// What draws a TextureGLView's picture. The view owns it and calls it on the view's render thread
// with the view's GL context current.
class Renderer {
  public:
    // Where a draw goes: the view's retained picture, `size` device pixels.
    struct Target {
        QOpenGLFunctions_3_3_Core& gl;
        GLuint framebuffer;
        QSize size;
    };

    virtual ~Renderer() = default;
    // The view's GL context is up: make the GL objects the draws need in it. False, with the
    // reason in `error`, when that cannot be done; the view then reports the failure.
    virtual bool contextCreated(QOpenGLFunctions_3_3_Core& gl, std::string& error) = 0;
    // The view's GL context is about to go: release every GL object made in it.
    virtual void contextAboutToBeDestroyed() = 0;
    // The drawable changed size; the next draw fills the new one.
    virtual void resized(QSize size) = 0;
    // Draws the whole picture into `target`.
    virtual void draw(const Target& target) = 0;
};
