#include "preview/MetalTextureView.h"

#include <QWidget>

#include "preview/Coordinator.h"
#include "preview/TextureGLView.h"

QSurfaceFormat MetalTextureView::surfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    // A buffer swap never waits for a vertical blank: the main thread takes frames meanwhile.
    format.setSwapInterval(0);
    return format;
}

std::shared_ptr<MetalTextureView::Coordinator> MetalTextureView::makeCoordinator() const {
    return std::make_shared<Coordinator>(device, texture);
}

QWidget* MetalTextureView::makeNSView(const std::shared_ptr<Coordinator>& coordinator,
                                      QWidget* parent) const {
    auto* view = new TextureGLView(parent);  // owned by `parent`, or by the caller
    view->setDevice(device);
    view->setDelegate(coordinator);
    return view;
}

void MetalTextureView::updateNSView(QWidget* view, Coordinator& coordinator) const {
    coordinator.setTexture(texture);
    // The requests made before the next draw are drawn once.
    if (auto* textureView = qobject_cast<TextureGLView*>(view)) textureView->setNeedsDisplay();
}
