#include "gpu/OpenGLAvailable.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>

namespace gpu {

bool openGLAvailable() {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setRenderableType(QSurfaceFormat::OpenGL);

    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create()) return false;
    const QSurfaceFormat made = context.format();
    if (made.renderableType() != QSurfaceFormat::OpenGL || made.version() < qMakePair(3, 3)) {
        return false;
    }
    QOffscreenSurface surface;
    surface.setFormat(made);
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) return false;
    context.doneCurrent();
    return true;
}

}  // namespace gpu
