#pragma once

#include <QSurfaceFormat>
#include <functional>
#include <memory>
#include <string>

class Coordinator;
class QWidget;

namespace gpu {
class Device;
class Texture;
}  // namespace gpu

// The live preview of the current frame: a plain value the window makes afresh from the current
// texture and the GPU device every time it re-evaluates its layout. Copies share what they refer
// to. Everything here runs on the main thread.
//
// How the window uses it:
//
//   // once, before the QApplication is made, so that every GL context shares one format:
//   QSurfaceFormat::setDefaultFormat(MetalTextureView::surfaceFormat());
//
//   // when the preview is first shown:
//   MetalTextureView value{receiver->currentTexture(), device};
//   std::shared_ptr<MetalTextureView::Coordinator> coordinator = value.makeCoordinator();
//   if (!coordinator) ...;  // no command queue or no shader library: the caller decides
//   QWidget* view = value.makeNSView(coordinator, onFailure, parentWidget);  // parent-owned
//   value.updateNSView(view, *coordinator);
//
//   // at every later re-evaluation, with the same coordinator and view:
//   MetalTextureView{receiver->currentTexture(), device}.updateNSView(view, *coordinator);
//
// The window keeps the coordinator and the view together for the life of the shown preview and
// sizes the view to the texture's aspect ratio; the view keeps its coordinator alive as long as
// it exists. The view draws the texture last handed over, filling its whole drawable, upright
// (the texture's row 0 at the top), on opaque black. It redraws when a texture is handed over,
// when it is exposed and when it is resized, and not otherwise.
struct MetalTextureView {
    using Coordinator = ::Coordinator;  // preview/Coordinator.h

    // The texture to show; may be empty.
    std::shared_ptr<gpu::Texture> texture;
    // The GPU device; never empty.
    std::shared_ptr<gpu::Device> device;

    // OpenGL 3.3 core, the format the preview draws with; a buffer swap does not wait for the
    // display's vertical blank.
    static QSurfaceFormat surfaceFormat();

    // A new coordinator built from this value's device and texture; none when the device gives
    // no command queue or the shader library is missing.
    std::shared_ptr<Coordinator> makeCoordinator() const;

    // A new, configured view drawn by `coordinator` (a TextureGLView), owned by `parent` (or by
    // the caller when `parent` is null). Make one view per coordinator. When its GL context first
    // comes up, the coordinator builds its shader program there. `onFailure` is called once, with
    // the reason, when the view cannot draw: no GL context, or a program that does not compile or
    // link (the GL log is in the reason).
    QWidget* makeNSView(const std::shared_ptr<Coordinator>& coordinator,
                        std::function<void(const std::string&)> onFailure,
                        QWidget* parent = nullptr) const;

    // Hands this value's texture (possibly empty) to `coordinator`, dropping the one it held, and
    // schedules one redraw of `view` (may be null). Several hand-overs before the next draw are
    // drawn once, with the last texture. The device is not handed on again.
    void updateNSView(QWidget* view, Coordinator& coordinator) const;
};
