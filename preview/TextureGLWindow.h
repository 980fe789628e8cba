#pragma once

#include <QWindow>

class TextureGLView;

// The native window the preview draws into, embedded in its view. Being an OpenGL window of its
// own, it lets the top-level window stay a raster window: a draw reaches the screen with one
// buffer swap, and Qt does not compose the whole top-level window through OpenGL for every frame
// as it must for a GL widget. It draws nothing itself; it tells its view when to draw.
class TextureGLWindow : public QWindow {
  public:
    explicit TextureGLWindow(TextureGLView& view);

    // The view is going: events from now on are left alone.
    void forgetView() { view_ = nullptr; }

  protected:
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

  private:
    TextureGLView* view_;
};
