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
    return Coordinator::make(device, texture);
}

QWidget* MetalTextureView::makeNSView(const std::shared_ptr<Coordinator>& coordinator,
                                      std::function<void(const std::string&)> onFailure,
                                      QWidget* parent) const {
    // Owned by `parent`, or by the caller: a widget's lifetime is its parent's business.
    auto view = std::make_unique<TextureGLView>(surfaceFormat(), parent);
    view->setDevice(device);
    view->setFailureHandler(std::move(onFailure));
    view->setRenderer(coordinator);
    return view.release();
}

void MetalTextureView::updateNSView(QWidget* view, Coordinator& coordinator) const {
    coordinator.setTexture(texture);
    // The requests made before the next draw are drawn once.
    if (auto* textureView = qobject_cast<TextureGLView*>(view)) textureView->setNeedsDisplay();
}
