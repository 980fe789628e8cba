#pragma once

#include <QSurfaceFormat>
#include <functional>
#include <memory>
#include <string>

class PreviewRenderer;
class QWidget;

namespace gpu {
class FrameStore;
class Texture;
}  // namespace gpu

// The live preview of the current frame: a plain value the window makes afresh from the current
// texture and the GPU frameStore every time it re-evaluates its layout. Copies share what they refer
// to. Everything here runs on the main thread.
//
// How the window uses it:
//
//   // once, before the QApplication is made, so that every GL context shares one format:
//   QSurfaceFormat::setDefaultFormat(PreviewWidget::surfaceFormat());
//
//   // when the preview is first shown:
//   PreviewWidget value{receiver->currentTexture(), frameStore};
//   std::shared_ptr<PreviewWidget::PreviewRenderer> renderer = value.makeCoordinator();
//   if (!renderer) ...;  // no command queue or no shader library: the caller decides
//   QWidget* view = value.makeNSView(renderer, onFailure, parentWidget);  // parent-owned
//   value.updateNSView(view, *renderer);
//
//   // at every later re-evaluation, with the same renderer and view:
//   PreviewWidget{receiver->currentTexture(), frameStore}.updateNSView(view, *renderer);
//
// The window keeps the renderer and the view together for the life of the shown preview and
// sizes the view to the texture's aspect ratio; the view keeps its renderer alive as long as
// it exists. The view draws the texture last handed over, filling its whole drawable, upright
// (the texture's row 0 at the top), on opaque black. It redraws when a texture is handed over,
// when it is exposed and when it is resized, and not otherwise.
struct PreviewWidget {
    using PreviewRenderer = ::PreviewRenderer;  // preview/PreviewRenderer.h

    // The texture to show; may be empty.
    std::shared_ptr<gpu::Texture> texture;
    // The GPU frameStore; never empty.
    std::shared_ptr<gpu::FrameStore> frameStore;

    // OpenGL 3.3 core, the format the preview draws with; a buffer swap does not wait for the
    // display's vertical blank.
    static QSurfaceFormat surfaceFormat();

    // A new renderer built from this value's frameStore and texture; none when the frameStore gives
    // no command queue or the shader library is missing.
    std::shared_ptr<PreviewRenderer> makeCoordinator() const;

    // A new, configured view drawn by `renderer` (a TextureGLView), owned by `parent` (or by
    // the caller when `parent` is null). Make one view per renderer. When its GL context first
    // comes up, the renderer builds its shader program there. `onFailure` is called once, with
    // the reason, when the view cannot draw: no GL context, or a program that does not compile or
    // link (the GL log is in the reason).
    QWidget* makeNSView(const std::shared_ptr<PreviewRenderer>& renderer,
                        std::function<void(const std::string&)> onFailure,
                        QWidget* parent = nullptr) const;

    // Hands this value's texture (possibly empty) to `renderer`, dropping the one it held, and
    // schedules one redraw of `view` (may be null). Several hand-overs before the next draw are
    // drawn once, with the last texture. The frameStore is not handed on again.
    void updateNSView(QWidget* view, PreviewRenderer& renderer) const;
};
