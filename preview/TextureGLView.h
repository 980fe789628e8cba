#pragma once

#include <QImage>
#include <QPointer>
#include <QSurfaceFormat>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "preview/Renderer.h"

class CoveredWindowWatch;
class QOffscreenSurface;
class QOpenGLContext;
class QSurface;
class RenderThread;
class RetainedDrawable;
class TextureGLWindow;

// The GPU view of the preview: a widget the window places and sizes, holding a native OpenGL
// 3.3 core window (TextureGLWindow) whose drawing is done by the view's renderer. The renderer
// draws into the view's retained picture, which the view then puts on screen with one copy and a
// buffer swap. It draws when a texture is handed over (through
// requestDraw), when its window is exposed and when it is resized; never on a timer. A new
// drawable starts opaque black, and a skipped draw leaves the last picture in place.
//
// The GL work (context, renderer, drawable) runs on the view's render thread. The main thread
// only asks for draws, at most one at a time: requests made while a draw is under way are drawn
// once, with the texture handed over last, when it is done. So a frame that takes long to draw
// holds up only the preview, which then shows fewer frames than arrive.
class TextureGLView : public QWidget {
    Q_OBJECT

  public:
    // Draws with `format` (OpenGL 3.3 core or later), without depth or stencil buffers and
    // without waiting for a vertical blank at a buffer swap (the main thread never waits).
    explicit TextureGLView(const QSurfaceFormat& format, QWidget* parent = nullptr);
    ~TextureGLView() override;

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
    void requestDraw();
    // Draws now and puts the picture on screen, when the view is on screen; it does not wait for
    // the draw under way.
    void display();
    // Whether the picture may be kept top row first where the driver allows it (the default);
    // tests turn it off to check the other order.
    void setTopRowFirstAllowed(bool allowed);

    // The drawable's size in device pixels.
    QSize drawableSize() const;

    // Whether the GL context is up; it comes up at the first draw on screen.
    bool isValid() const { return glReady_; }
    // The picture the view shows, top row first, after a draw that was asked for and not yet
    // made; null while there is none. Waits for the render thread.
    QImage grabFramebuffer();
    // Runs `work` on the render thread with the view's context current, targeting the retained
    // picture, and waits for it; nothing runs while the view has no context or no picture.
    // For measurements and diagnostics.
    void runInContext(const std::function<void(const Renderer::Target&)>& work);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct DrawRequest {
        std::shared_ptr<Renderer> renderer;
        QSize size;
        bool topRowFirstAllowed;
    };

    // Main thread.
    // Shows the native window again when the top-level window is exposed and it is not.
    void exposeWithTopLevel();
    bool isOnScreen() const;
    // Asks for a draw when the window is on screen; after the draw under way, if there is one.
    void render();
    void postDraw();
    void drawFinished();
    void fail(const std::string& reason);
    void releaseGlObjects();
    // The native window, or while it has none a spare surface, to make the context current on.
    QSurface* glSurface();
    // Lets the render thread finish and release the native window, which is about to go.
    void releaseWindowSurface();

    // Render thread.
    void draw(const DrawRequest& request);
    bool prepareContext();
    void reportFailure(const std::string& reason);

    std::shared_ptr<Renderer> renderer_;
    std::function<void(const std::string&)> failureHandler_;
    bool failed_ = false;
    TextureGLWindow* window_;     // owned by its container
    QWidget* container_;          // the window's widget, a child of this view
    QPointer<QWindow> topLevel_;  // the native top-level window this view watches
    bool needsDisplay_ = false;   // a draw was asked for and not yet made
    int drawsInFlight_ = 0;       // draws posted and not yet done
    bool topRowFirstAllowed_ = true;
    std::unique_ptr<QOffscreenSurface> spareSurface_;  // for GL work while the window has none
    std::unique_ptr<CoveredWindowWatch> coveredWatch_;
    std::atomic<bool> glReady_ = false;

    // Touched only on the render thread (or with it waited for).
    std::unique_ptr<QOpenGLContext> context_;
    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    bool glFailed_ = false;
    std::unique_ptr<RetainedDrawable> drawable_;
    using ClipControl = void(QOPENGLF_APIENTRYP)(GLenum origin, GLenum depth);
    ClipControl clipControl_ = nullptr;  // none where the driver has no glClipControl

    std::unique_ptr<RenderThread> renderThread_;  // made last, ended first
};
