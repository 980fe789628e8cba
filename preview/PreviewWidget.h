#pragma once

#include <QSurfaceFormat>
#include <functional>
#include <memory>
#include <string>

class PreviewRenderer;
class QWidget;

namespace gpu {
class Texture;
}  // namespace gpu

// The live preview of the current frame: a TextureGLView drawn by a PreviewRenderer. The window
// makes the renderer and the widget once, keeps them together while the preview is shown, and
// hands each new texture over with setTexture. Everything here runs on the main thread.
namespace PreviewWidget {

// OpenGL 3.3 core, the format the preview draws with; a buffer swap does not wait for the
// display's vertical blank. Set as the default format before the QApplication is made.
QSurfaceFormat surfaceFormat();

// A renderer that shows `texture` (may be empty), with the built-in shaders; none when they are
// missing.
std::shared_ptr<PreviewRenderer> createRenderer(std::shared_ptr<gpu::Texture> texture);

// A new widget drawn by `renderer`, owned by `parent` (or by the caller when `parent` is null);
// it keeps its renderer alive. Make one widget per renderer. When its GL context first comes up,
// the renderer builds its shader program there. `onFailure` is called once, with the reason, when
// the widget cannot draw: no GL context, or a program that does not compile or link (the GL log is
// in the reason). It draws the texture last handed over, filling the widget, upright (row 0 at
// the top), on opaque black, when a texture is handed over, when exposed and when resized.
QWidget* createWidget(const std::shared_ptr<PreviewRenderer>& renderer,
                      std::function<void(const std::string&)> onFailure, QWidget* parent = nullptr);

// Hands `texture` (possibly empty) to `renderer`, dropping the one it held, and asks `widget`
// (may be null) for one redraw. Several hand-overs before the next draw are drawn once, with the
// last texture.
void setTexture(QWidget* widget, PreviewRenderer& renderer, std::shared_ptr<gpu::Texture> texture);

}  // namespace PreviewWidget
