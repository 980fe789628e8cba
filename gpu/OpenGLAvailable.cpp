#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>

#include "gpu/FrameStore.h"

namespace gpu {

std::shared_ptr<FrameStore> FrameStore::systemDefault() {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setRenderableType(QSurfaceFormat::OpenGL);

    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create()) return nullptr;
    const QSurfaceFormat made = context.format();
    if (made.renderableType() != QSurfaceFormat::OpenGL || made.version() < qMakePair(3, 3)) {
        return nullptr;
    }
    QOffscreenSurface surface;
    surface.setFormat(made);
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) return nullptr;
    const auto* renderer =
        reinterpret_cast<const char*>(context.functions()->glGetString(0x1F01 /* GL_RENDERER */));
    std::string name = renderer ? renderer : "OpenGL";
    context.doneCurrent();
    return create(std::move(name));
}

}  // namespace gpu
