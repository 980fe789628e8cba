#include "preview/TextureGLView.h"

#include <QEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>

#include "preview/Coordinator.h"

TextureGLView::TextureGLView(QWidget* parent) : QOpenGLWidget(parent) {
    setFormat(MetalTextureView::surfaceFormat());
    // Keep the picture between draws, so that a skipped draw shows the last frame drawn.
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
}

TextureGLView::~TextureGLView() {
    // QOpenGLWidget destroys the context after this part of the view is gone: the signal must not
    // reach it then.
    disconnect(contextConnection_);
    if (!gl_) return;
    makeCurrent();
    contextWillDestroy();
    doneCurrent();
}

void TextureGLView::setDelegate(std::shared_ptr<MetalTextureView::Coordinator> delegate) {
    if (gl_ && delegate_ != delegate) {
        // The old delegate's GL objects live in this view's context: release them here.
        makeCurrent();
        if (delegate_) delegate_->contextWillDestroy();
        if (delegate) delegate->contextDidCreate(*gl_);
        doneCurrent();
    }
    delegate_ = std::move(delegate);
}

QSize TextureGLView::drawableSize() const { return size() * devicePixelRatio(); }

void TextureGLView::initializeGL() {
    // Qt makes a new context when the view moves to another window; GL objects go with the old.
    disconnect(contextConnection_);
    contextConnection_ = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        contextWillDestroy();
        doneCurrent();
    });
    gl_ = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(context());
    if (gl_ && delegate_) delegate_->contextDidCreate(*gl_);
}

void TextureGLView::contextWillDestroy() {
    if (delegate_) delegate_->contextWillDestroy();
    gl_ = nullptr;
}

void TextureGLView::resizeGL(int width, int height) {
    // A new drawable: fill it with the view's black background before anything is drawn on it.
    if (gl_) {
        gl_->glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        gl_->glClear(GL_COLOR_BUFFER_BIT);
    }
    if (delegate_) {
        const double ratio = devicePixelRatio();
        delegate_->drawableSizeWillChange(*this, width * ratio, height * ratio);
    }
}

void TextureGLView::paintGL() {
    if (delegate_) delegate_->draw(*this);
}

void TextureGLView::showEvent(QShowEvent* event) {
    QOpenGLWidget::showEvent(event);
    watchExposure();
}

// Qt shows the retained picture again when the window is exposed; the view draws afresh too, so
// that an exposed preview always shows the texture it holds now.
void TextureGLView::watchExposure() {
    QWindow* window = this->window()->windowHandle();
    if (window == watchedWindow_) return;
    if (watchedWindow_) watchedWindow_->removeEventFilter(this);
    watchedWindow_ = window;
    if (window) window->installEventFilter(this);
}

bool TextureGLView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedWindow_ && event->type() == QEvent::Expose &&
        watchedWindow_->isExposed()) {
        update();
    }
    return QOpenGLWidget::eventFilter(watched, event);
}
