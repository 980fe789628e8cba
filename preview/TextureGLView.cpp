#include "preview/TextureGLView.h"

#include <QBackingStore>
#include <QOffscreenSurface>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>
#include <QPaintEvent>
#include <QPainter>

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
    auto window =
        std::make_unique<TextureGLWindow>(windowFormat(format), TextureGLWindow::Callbacks{
                                                                    [this] { render(); },
                                                                    [this] { setNeedsDisplay(); },
                                                                    [this] {
                                                                        if (needsDisplay_) render();
                                                                    },
                                                                });
    window_ = window.get();
    container_ = QWidget::createWindowContainer(window.release(), this);  // takes the window
    container_->setFocusPolicy(Qt::NoFocus);
    container_->setGeometry(rect());
}

TextureGLView::~TextureGLView() {
    // The window is destroyed with the container, after this part of the view is gone.
    window_->forgetCallbacks();
    releaseGlObjects();
}

void TextureGLView::releaseGlObjects() {
    if (!context_) return;
    if (makeCurrent()) {
        drawable_.reset();
        if (renderer_ && gl_) renderer_->contextWillDestroy();
        doneCurrent();
    }
    gl_ = nullptr;
    context_.reset();
}

void TextureGLView::setRenderer(std::shared_ptr<Renderer> renderer) {
    std::string error;
    bool ready = true;
    if (gl_ && renderer_ != renderer && makeCurrent()) {
        // The old renderer's GL objects live in this view's context: release them here.
        if (renderer_) renderer_->contextWillDestroy();
        if (renderer) ready = renderer->contextDidCreate(*gl_, error);
        doneCurrent();
    }
    renderer_ = std::move(renderer);
    if (!ready) fail(error);
}

void TextureGLView::fail(const std::string& reason) {
    if (failed_) return;
    failed_ = true;
    if (failureHandler_) failureHandler_(reason);
}

QSize TextureGLView::drawableSize() const { return window_->size() * window_->devicePixelRatio(); }

GLuint TextureGLView::defaultFramebufferObject() const {
    return drawable_ ? drawable_->framebuffer() : 0;
}

void TextureGLView::setNeedsDisplay() {
    needsDisplay_ = true;
    // Qt delivers one update request however often it is asked before it.
    window_->requestUpdate();
}

void TextureGLView::display() { render(); }

void TextureGLView::setTopRowFirstAllowed(bool allowed) {
    topRowFirstAllowed_ = allowed;
    setNeedsDisplay();
}

bool TextureGLView::makeCurrent() {
    if (!context_) return false;
    if (window_->handle()) return context_->makeCurrent(window_);
    // No native window (never shown, or gone): GL objects are still released in the context.
    if (!spareSurface_) {
        spareSurface_ = std::make_unique<QOffscreenSurface>();
        spareSurface_->setFormat(context_->format());
        spareSurface_->create();
    }
    return context_->makeCurrent(spareSurface_.get());
}

void TextureGLView::doneCurrent() {
    if (context_) context_->doneCurrent();
}

bool TextureGLView::prepareContext() {
    if (failed_) return false;
    if (context_) {
        if (context_->makeCurrent(window_)) return true;
        fail("the preview's OpenGL context could not be made current");
        return false;
    }
    context_ = std::make_unique<QOpenGLContext>();
    context_->setFormat(window_->requestedFormat());
    if (!context_->create()) {
        fail("the preview's OpenGL 3.3 core context could not be created");
        return false;
    }
    if (!context_->makeCurrent(window_)) {
        fail("the preview's OpenGL context could not be made current");
        return false;
    }
    gl_ = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(context_.get());
    if (!gl_ || !gl_->initializeOpenGLFunctions()) {
        gl_ = nullptr;
        fail("the preview's OpenGL context has no OpenGL 3.3 core functions");
        return false;
    }
    if (context_->format().version() >= qMakePair(4, 5) ||
        context_->hasExtension(QByteArrayLiteral("GL_ARB_clip_control"))) {
        clipControl_ = reinterpret_cast<ClipControl>(context_->getProcAddress("glClipControl"));
    }
    std::string error;
    if (renderer_ && !renderer_->contextDidCreate(*gl_, error)) {
        fail(error);
        return false;
    }
    return true;
}

void TextureGLView::render() {
    if (!window_->isExposed()) return;  // it is drawn when it is exposed
    if (!prepareContext()) return;
    needsDisplay_ = false;
    const QSize size = drawableSize();
    const auto order = clipControl_ && topRowFirstAllowed_
                           ? RetainedDrawable::RowOrder::TopRowFirst
                           : RetainedDrawable::RowOrder::BottomRowFirst;
    if (!drawable_ || drawable_->size() != size || drawable_->rowOrder() != order) {
        // A new drawable starts opaque black.
        drawable_.reset();
        drawable_ = RetainedDrawable::make(*gl_, size, order);
        if (!drawable_) return;
        if (renderer_) renderer_->drawableSizeWillChange(size);
    }
    // With the clip origin at the upper left, the draw lays the picture's top row first, the
    // order of the window's pixels, and the copy to the window is a plain one (on Mesa's
    // llvmpipe a tenth of the time of a copy that turns the rows over).
    if (clipControl_) {
        clipControl_(order == RetainedDrawable::RowOrder::TopRowFirst ? glUpperLeft : glLowerLeft,
                     glNegativeOneToOne);
    }
    if (renderer_) renderer_->draw(Renderer::Target{*gl_, drawable_->framebuffer(), size});
    drawable_->present(context_->defaultFramebufferObject());
    context_->swapBuffers(window_);
}

QImage TextureGLView::grabFramebuffer() {
    if (needsDisplay_) render();
    if (!drawable_ || !makeCurrent()) return {};
    QImage image = drawable_->read();
    doneCurrent();
    return image;
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
    if (!isVisible() || window_->isExposed() || !topLevel_ || !topLevel_->isExposed()) return;
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
