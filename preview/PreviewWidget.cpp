#include "preview/PreviewWidget.h"

#include <QWidget>

#include "preview/PreviewRenderer.h"
#include "preview/TextureGLView.h"

namespace PreviewWidget {

QSurfaceFormat surfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    // A buffer swap never waits for a vertical blank: the main thread takes frames meanwhile.
    format.setSwapInterval(0);
    return format;
}

std::shared_ptr<PreviewRenderer> createRenderer(std::shared_ptr<gpu::Texture> texture) {
    return PreviewRenderer::make(std::move(texture));
}

QWidget* createWidget(const std::shared_ptr<PreviewRenderer>& renderer,
                      std::function<void(const std::string&)> onFailure, QWidget* parent) {
    // Owned by `parent`, or by the caller: a widget's lifetime is its parent's business.
    auto view = std::make_unique<TextureGLView>(surfaceFormat(), parent);
    view->setFailureHandler(std::move(onFailure));
    view->setRenderer(renderer);
    return view.release();
}

void setTexture(QWidget* widget, PreviewRenderer& renderer, std::shared_ptr<gpu::Texture> texture) {
    renderer.setTexture(std::move(texture));
    // The requests made before the next draw are drawn once.
    if (auto* textureView = qobject_cast<TextureGLView*>(widget)) textureView->requestDraw();
}

}  // namespace PreviewWidget
