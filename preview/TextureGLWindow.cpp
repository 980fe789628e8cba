#include "preview/TextureGLWindow.h"

#include <QEvent>
#include <QPlatformSurfaceEvent>

TextureGLWindow::TextureGLWindow(const QSurfaceFormat& format, Callbacks callbacks)
    : callbacks_(std::move(callbacks)) {
    setSurfaceType(QSurface::OpenGLSurface);
    setFormat(format);
    // Only a picture: clicks and keys go to the window around it, as they would to a widget.
    setFlags(flags() | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
}

void TextureGLWindow::exposeEvent(QExposeEvent*) {
    // What the window showed is gone: it is drawn again at once, as the platform expects.
    if (isExposed()) {
        if (callbacks_.exposed) callbacks_.exposed();
    } else if (callbacks_.surfaceWillGo) {
        // A hidden Wayland window loses its surface right after this event.
        callbacks_.surfaceWillGo();
    }
}

void TextureGLWindow::resizeEvent(QResizeEvent*) {
    if (callbacks_.resized) callbacks_.resized();
}

bool TextureGLWindow::event(QEvent* event) {
    if (event->type() == QEvent::UpdateRequest) {
        if (callbacks_.updateRequested) callbacks_.updateRequested();
        return true;
    }
    if (event->type() == QEvent::PlatformSurface && callbacks_.surfaceWillGo &&
        static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
            QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed) {
        callbacks_.surfaceWillGo();
    }
    return QWindow::event(event);
}
