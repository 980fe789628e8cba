#include "preview/PreviewWidget.h"

#include <QWidget>

#include "preview/PreviewRenderer.h"
#include "preview/TextureGLView.h"

QSurfaceFormat PreviewWidget::surfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    // A buffer swap never waits for a vertical blank: the main thread takes frames meanwhile.
    format.setSwapInterval(0);
    return format;
}

std::shared_ptr<PreviewWidget::PreviewRenderer> PreviewWidget::makeCoordinator() const {
    return PreviewRenderer::make(frameStore, texture);
}

QWidget* PreviewWidget::makeNSView(const std::shared_ptr<PreviewRenderer>& renderer,
                                      std::function<void(const std::string&)> onFailure,
                                      QWidget* parent) const {
    // Owned by `parent`, or by the caller: a widget's lifetime is its parent's business.
    auto view = std::make_unique<TextureGLView>(surfaceFormat(), parent);
    view->setDevice(frameStore);
    view->setFailureHandler(std::move(onFailure));
    view->setRenderer(renderer);
    return view.release();
}

void PreviewWidget::updateNSView(QWidget* view, PreviewRenderer& renderer) const {
    renderer.setTexture(texture);
    // The requests made before the next draw are drawn once.
    if (auto* textureView = qobject_cast<TextureGLView*>(view)) textureView->requestDraw();
}
