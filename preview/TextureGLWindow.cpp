#include "preview/TextureGLWindow.h"

#include <QEvent>

#include "preview/TextureGLView.h"

TextureGLWindow::TextureGLWindow(TextureGLView& view) : view_(&view) {
    setSurfaceType(QSurface::OpenGLSurface);
    setFormat(TextureGLView::windowFormat());
    // Only a picture: clicks and keys go to the window around it, as they would to a widget.
    setFlags(flags() | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
}

void TextureGLWindow::exposeEvent(QExposeEvent*) {
    // What the window showed is gone: it is drawn again at once, as the platform expects.
    if (view_ && isExposed()) view_->windowExposed();
}

void TextureGLWindow::resizeEvent(QResizeEvent*) {
    if (view_) view_->setNeedsDisplay();
}

bool TextureGLWindow::event(QEvent* event) {
    if (event->type() == QEvent::UpdateRequest) {
        if (view_) view_->windowUpdateRequested();
        return true;
    }
    return QWindow::event(event);
}
