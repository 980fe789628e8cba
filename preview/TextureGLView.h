#pragma once

#include <QImage>
#include <QOpenGLContext>
#include <QPointer>
#include <QSurfaceFormat>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "preview/Renderer.h"

class QOffscreenSurface;
class QOpenGLFunctions_3_3_Core;
class RetainedDrawable;
class TextureGLWindow;

namespace gpu {
class Device;
}

// The GPU view of the preview: a widget the window places and sizes, holding a native OpenGL
// 3.3 core window (TextureGLWindow) whose drawing is done by the view's renderer. The renderer
// draws into the view's retained picture, which the view then puts on screen with one copy and a
// buffer swap. It draws when a texture is handed over (through
// setNeedsDisplay), when its window is exposed and when it is resized; never on a timer. A new
// drawable starts opaque black, and a skipped draw leaves the last picture in place.
class TextureGLView : public QWidget {
    Q_OBJECT

  public:
    // Draws with `format` (OpenGL 3.3 core or later), without depth or stencil buffers and
    // without waiting for a vertical blank at a buffer swap (the main thread never waits).
    explicit TextureGLView(const QSurfaceFormat& format, QWidget* parent = nullptr);
    ~TextureGLView() override;

    void setDevice(std::shared_ptr<gpu::Device> device) { device_ = std::move(device); }
    const std::shared_ptr<gpu::Device>& device() const { return device_; }
    // The view keeps its renderer alive.
    void setRenderer(std::shared_ptr<Renderer> renderer);
    const std::shared_ptr<Renderer>& renderer() const { return renderer_; }
    // Called once, with the reason, when the view cannot draw at all: its GL context cannot be
    // made or made current, or the renderer cannot set itself up in it. Nothing is drawn after.
    void setFailureHandler(std::function<void(const std::string&)> handler) {
        failureHandler_ = std::move(handler);
    }

    // Asks for one draw at a coming pass of the event loop; the requests made before it are
    // drawn once.
    void setNeedsDisplay();
    // Draws now and puts the picture on screen, when the view is on screen.
    void display();
    // Whether the picture may be kept top row first where the driver allows it (the default);
    // tests turn it off to check the other order.
    void setTopRowFirstAllowed(bool allowed);

    // The GL functions of the view's context: none until it is up; use only while it is current.
    QOpenGLFunctions_3_3_Core* glFunctions() const { return gl_; }
    // The drawable's size in device pixels.
    QSize drawableSize() const;
    // The framebuffer a draw renders into: the retained picture (0 while there is none).
    GLuint defaultFramebufferObject() const;

    // Whether the GL context is up; it comes up at the first draw on screen.
    bool isValid() const { return gl_ != nullptr; }
    // The picture the view shows, top row first, after a draw that was asked for and not yet
    // made; null while there is none.
    QImage grabFramebuffer();
    // The view's GL context (null until it is up), and making it current outside a draw.
    QOpenGLContext* context() const { return context_.get(); }
    bool makeCurrent();
    void doneCurrent();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Shows the native window again when the top-level window is exposed and it is not.
    void exposeWithTopLevel();
    // Draws into the retained picture and shows it, when the window is on screen.
    void render();
    bool prepareContext();
    void fail(const std::string& reason);
    void releaseGlObjects();

    std::shared_ptr<gpu::Device> device_;
    std::shared_ptr<Renderer> renderer_;
    std::function<void(const std::string&)> failureHandler_;
    bool failed_ = false;
    TextureGLWindow* window_;     // owned by its container
    QWidget* container_;          // the window's widget, a child of this view
    QPointer<QWindow> topLevel_;  // the native top-level window this view watches
    bool needsDisplay_ = false;   // a draw was asked for and not yet made
    std::unique_ptr<QOpenGLContext> context_;
    std::unique_ptr<QOffscreenSurface> spareSurface_;  // for GL work while the window has none
    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    std::unique_ptr<RetainedDrawable> drawable_;
    using ClipControl = void(QOPENGLF_APIENTRYP)(GLenum origin, GLenum depth);
    ClipControl clipControl_ = nullptr;  // none where the driver has no glClipControl
    bool topRowFirstAllowed_ = true;
};
