#pragma once

#include <QImage>
#include <QOpenGLContext>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "preview/MetalTextureView.h"

class QOffscreenSurface;
class QOpenGLFunctions_3_3_Core;
class RetainedDrawable;
class TextureGLWindow;

// The GPU view of the preview: a widget the window places and sizes, holding a native OpenGL
// 3.3 core window (TextureGLWindow) whose drawing is done by the view's delegate, the
// coordinator. The delegate draws into the view's retained picture, which the view then puts on
// screen with one copy and a buffer swap. It draws when a texture is handed over (through
// setNeedsDisplay), when its window is exposed and when it is resized; never on a timer. A new
// drawable starts opaque black, and a skipped draw leaves the last picture in place.
class TextureGLView : public QWidget {
    Q_OBJECT

  public:
    explicit TextureGLView(QWidget* parent = nullptr);
    ~TextureGLView() override;

    // The format of the view's native window: the preview's, without depth or stencil buffers,
    // and without waiting for a vertical blank at a buffer swap (the main thread never waits).
    static QSurfaceFormat windowFormat();

    void setDevice(std::shared_ptr<gpu::Device> device) { device_ = std::move(device); }
    const std::shared_ptr<gpu::Device>& device() const { return device_; }
    // The view keeps its delegate alive.
    void setDelegate(std::shared_ptr<MetalTextureView::Coordinator> delegate);
    const std::shared_ptr<MetalTextureView::Coordinator>& delegate() const { return delegate_; }

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

  private:
    friend class TextureGLWindow;
    void windowExposed();
    void windowUpdateRequested();
    // Draws into the retained picture and shows it, when the window is on screen.
    void render();
    bool prepareContext();
    void releaseGlObjects();

    std::shared_ptr<gpu::Device> device_;
    std::shared_ptr<MetalTextureView::Coordinator> delegate_;
    TextureGLWindow* window_;    // owned by its container
    QWidget* container_;         // the window's widget, a child of this view
    bool needsDisplay_ = false;  // a draw was asked for and not yet made
    std::unique_ptr<QOpenGLContext> context_;
    std::unique_ptr<QOffscreenSurface> spareSurface_;  // for GL work while the window has none
    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    std::unique_ptr<RetainedDrawable> drawable_;
    using ClipControl = void(QOPENGLF_APIENTRYP)(GLenum origin, GLenum depth);
    ClipControl clipControl_ = nullptr;  // none where the driver has no glClipControl
    bool topRowFirstAllowed_ = true;
};
