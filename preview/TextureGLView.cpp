#include "preview/TextureGLView.h"

#include <QBackingStore>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>
#include <QPaintEvent>
#include <QPainter>

#include "preview/CoveredWindowWatch.h"
#include "preview/RenderThread.h"
#include "preview/RetainedDrawable.h"
#include "preview/TextureGLWindow.h"

namespace {

// glClipControl (OpenGL 4.5, ARB_clip_control), which the 3.3 function table does not hold.
constexpr GLenum glLowerLeft = 0x8CA1;
constexpr GLenum glUpperLeft = 0x8CA2;
constexpr GLenum glNegativeOneToOne = 0x935E;

QSurfaceFormat windowFormat(QSurfaceFormat format) {
    format.setDepthBufferSize(0);
    format.setStencilBufferSize(0);
    format.setAlphaBufferSize(0);  // opaque, like the window it sits in
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setSwapInterval(0);
    return format;
}

}  // namespace

TextureGLView::TextureGLView(const QSurfaceFormat& format, QWidget* parent) : QWidget(parent) {
    auto window = std::make_unique<TextureGLWindow>(windowFormat(format),
                                                    TextureGLWindow::Callbacks{
                                                        [this] { render(); },
                                                        [this] { requestDraw(); },
                                                        [this] {
                                                            if (needsDisplay_) render();
                                                        },
                                                        [this] { releaseWindowSurface(); },
                                                    });
    window_ = window.get();
    container_ = QWidget::createWindowContainer(window.release(), this);  // takes the window
    container_->setFocusPolicy(Qt::NoFocus);
    container_->setGeometry(rect());
    coveredWatch_ = std::make_unique<CoveredWindowWatch>(*window_, [this](bool covered) {
        if (!covered) render();  // what came while it was covered
    });
    // On Wayland, hiding a top-level window destroys its surfaces at once, with no event before
    // it that a render thread could be stopped at: there the view draws on the main thread.
    renderThread_ = std::make_unique<RenderThread>(QOpenGLContext::supportsThreadedOpenGL() &&
                                                   QGuiApplication::platformName() == "xcb");
}

TextureGLView::~TextureGLView() {
    // The window is destroyed with the container, after this part of the view is gone.
    window_->forgetCallbacks();
    releaseGlObjects();
    renderThread_.reset();
}

QSurface* TextureGLView::glSurface() {
    if (window_->handle()) return window_;
    // No native window (never shown, or gone): GL objects are still released in the context.
    // Made here, as Qt wants, on the main thread.
    if (!spareSurface_) {
        spareSurface_ = std::make_unique<QOffscreenSurface>();
        spareSurface_->setFormat(window_->requestedFormat());
        spareSurface_->create();
    }
    return spareSurface_.get();
}

void TextureGLView::releaseGlObjects() {
    QSurface* surface = glSurface();
    renderThread_->runAndWait([this, surface, renderer = renderer_] {
        if (!context_) return;
        if (context_->makeCurrent(surface)) {
            drawable_.reset();
            if (renderer && gl_) renderer->contextAboutToBeDestroyed();
            context_->doneCurrent();
        }
        gl_ = nullptr;
        context_.reset();
    });
    glReady_ = false;
}

void TextureGLView::releaseWindowSurface() {
    renderThread_->runAndWait([this] {
        if (context_) context_->doneCurrent();
    });
}

void TextureGLView::setRenderer(std::shared_ptr<Renderer> renderer) {
    if (renderer_ != renderer) {
        QSurface* surface = glSurface();
        // The old renderer's GL objects live in this view's context: released there.
        renderThread_->runAndWait([this, surface, old = renderer_, renderer] {
            if (!gl_ || !context_->makeCurrent(surface)) return;
            std::string error;
            if (old) old->contextAboutToBeDestroyed();
            if (renderer && !renderer->contextCreated(*gl_, error)) reportFailure(error);
            context_->doneCurrent();
        });
    }
    renderer_ = std::move(renderer);
}

void TextureGLView::fail(const std::string& reason) {
    if (failed_) return;
    failed_ = true;
    if (failureHandler_) failureHandler_(reason);
}

void TextureGLView::reportFailure(const std::string& reason) {
    glFailed_ = true;
    QMetaObject::invokeMethod(
        this, [this, reason] { fail(reason); }, Qt::QueuedConnection);
}

QSize TextureGLView::drawableSize() const { return window_->size() * window_->devicePixelRatio(); }

void TextureGLView::requestDraw() {
    needsDisplay_ = true;
    // Qt delivers one update request however often it is asked before it.
    window_->requestUpdate();
}

void TextureGLView::display() {
    if (isOnScreen() && !failed_) postDraw();
}

void TextureGLView::setTopRowFirstAllowed(bool allowed) {
    topRowFirstAllowed_ = allowed;
    requestDraw();
}

bool TextureGLView::isOnScreen() const {
    // A minimised top-level window is unmapped, and an X11 window may be covered by others; the
    // native window inside it may still say it is exposed.
    return window_->isExposed() && (!topLevel_ || topLevel_->isExposed()) &&
           !coveredWatch_->isCovered();
}

void TextureGLView::render() {
    if (!isOnScreen() || failed_) return;  // it is drawn when it is exposed
    needsDisplay_ = true;
    if (drawsInFlight_ == 0) postDraw();
}

void TextureGLView::postDraw() {
    needsDisplay_ = false;
    ++drawsInFlight_;
    renderThread_->post(
        [this, request = DrawRequest{renderer_, drawableSize(), topRowFirstAllowed_}] {
            draw(request);
            QMetaObject::invokeMethod(this, &TextureGLView::drawFinished, Qt::QueuedConnection);
        });
}

void TextureGLView::drawFinished() {
    if (--drawsInFlight_ == 0 && needsDisplay_) render();
}

bool TextureGLView::prepareContext() {
    if (glFailed_) return false;
    if (context_) {
        if (context_->makeCurrent(window_)) return true;
        reportFailure("the preview's OpenGL context could not be made current");
        return false;
    }
    context_ = std::make_unique<QOpenGLContext>();
    context_->setFormat(window_->requestedFormat());
    if (!context_->create()) {
        reportFailure("the preview's OpenGL 3.3 core context could not be created");
        return false;
    }
    if (!context_->makeCurrent(window_)) {
        reportFailure("the preview's OpenGL context could not be made current");
        return false;
    }
    gl_ = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(context_.get());
    if (!gl_ || !gl_->initializeOpenGLFunctions()) {
        gl_ = nullptr;
        reportFailure("the preview's OpenGL context has no OpenGL 3.3 core functions");
        return false;
    }
    if (context_->format().version() >= qMakePair(4, 5) ||
        context_->hasExtension(QByteArrayLiteral("GL_ARB_clip_control"))) {
        clipControl_ = reinterpret_cast<ClipControl>(context_->getProcAddress("glClipControl"));
    }
    glReady_ = true;
    return true;
}

void TextureGLView::draw(const DrawRequest& request) {
    const bool fresh = !context_;
    if (!prepareContext()) return;
    std::string error;
    if (fresh && request.renderer && !request.renderer->contextCreated(*gl_, error)) {
        reportFailure(error);
        return;
    }
    const auto order = clipControl_ && request.topRowFirstAllowed
                           ? RetainedDrawable::RowOrder::TopRowFirst
                           : RetainedDrawable::RowOrder::BottomRowFirst;
    if (!drawable_ || drawable_->size() != request.size || drawable_->rowOrder() != order) {
        // A new drawable starts opaque black.
        drawable_.reset();
        if (request.size.isEmpty()) return;
        drawable_ = RetainedDrawable::make(*gl_, request.size, order);
        if (!drawable_) return;
        if (request.renderer) request.renderer->resized(request.size);
    }
    // With the clip origin at the upper left, the draw lays the picture's top row first, the
    // order of the window's pixels, and the copy to the window is a plain one (on Mesa's
    // llvmpipe a tenth of the time of a copy that turns the rows over).
    if (clipControl_) {
        clipControl_(order == RetainedDrawable::RowOrder::TopRowFirst ? glUpperLeft : glLowerLeft,
                     glNegativeOneToOne);
    }
    if (request.renderer) {
        request.renderer->draw(Renderer::Target{*gl_, drawable_->framebuffer(), request.size});
    }
    drawable_->present(context_->defaultFramebufferObject());
    context_->swapBuffers(window_);
}

QImage TextureGLView::grabFramebuffer() {
    if (needsDisplay_) display();
    QImage image;
    QSurface* surface = glSurface();
    renderThread_->runAndWait([&] {
        if (drawable_ && context_->makeCurrent(surface)) image = drawable_->read();
    });
    return image;
}

void TextureGLView::runInContext(const std::function<void(const Renderer::Target&)>& work) {
    QSurface* surface = glSurface();
    renderThread_->runAndWait([&] {
        if (!drawable_ || !context_->makeCurrent(surface)) return;
        work(Renderer::Target{*gl_, drawable_->framebuffer(), drawable_->size()});
    });
}

void TextureGLView::resizeEvent(QResizeEvent*) { container_->setGeometry(rect()); }

void TextureGLView::showEvent(QShowEvent*) {
    // The top-level window exists once the view is shown; it may be a new one after a reparent.
    QWindow* top = window()->windowHandle();
    if (top == topLevel_) return;
    if (topLevel_) topLevel_->removeEventFilter(this);
    topLevel_ = top;
    if (top) top->installEventFilter(this);
}

bool TextureGLView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == topLevel_ && event->type() == QEvent::Expose && topLevel_->isExposed()) {
        // After the top-level window's own expose has been handled.
        QMetaObject::invokeMethod(this, &TextureGLView::exposeWithTopLevel, Qt::QueuedConnection);
    }
    return false;
}

void TextureGLView::exposeWithTopLevel() {
    // A Wayland compositor exposes a sub-surface made before its top-level window was first
    // configured only at a later configure, which some compositors (weston, kiosk shells) never
    // send. Shown again now, the native window is made afresh under an exposed parent and is
    // exposed at once; its exposure draws the last picture again.
    if (!isVisible() || !topLevel_ || !topLevel_->isExposed()) return;
    if (window_->isExposed()) {
        // Back from being minimised: what came meanwhile is drawn now.
        render();
        return;
    }
    window_->hide();
    window_->show();
}

void TextureGLView::paintEvent(QPaintEvent* event) {
    // On screen the native window covers the view, and the view paints nothing. Painted into
    // anything else (QWidget::grab, QWidget::render), it paints its picture there.
    QPaintDevice* target = redirected(nullptr);
    QBackingStore* store = backingStore();
    if (!target || (store && target == store->paintDevice())) return;
    const QImage picture = grabFramebuffer();
    QPainter painter(this);
    if (picture.isNull()) {
        painter.fillRect(event->rect(), Qt::black);
    } else {
        painter.drawImage(rect(), picture);
    }
}
